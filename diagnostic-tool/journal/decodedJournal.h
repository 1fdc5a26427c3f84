#pragma once

#include "pcscWrapper/apdu.h"

#include <optional>
#include <string>
#include <vector>

enum class DecodeStatus { Ok = 0, SomeRecordsFailed = 1, JournalFailed = 2 };

// The security journal cut into records; decoding never throws.
class DecodedJournal {
public:
    explicit DecodedJournal(ByteView journal);

    DecodeStatus status() const { return status_; }
    // Appends the text of the next record for the journal file; false when all are written.
    bool appendNextRecordText(std::string& text);
    // Text of the next record for the journal file, or none when all are written.
    std::optional<std::string> nextRecordText();

private:
    // Of each record only what the completion check needs is kept: a journal
    // has about a hundred thousand records per megabyte. Its text is made
    // from its bytes when it is written.
    struct RecordMark {
        uint8_t tag;  // 0 for a record the tool cannot read
        bool succeeded;
    };

    void skipRecord();

    Bytes bytes_;
    std::vector<RecordMark> records_;
    DecodeStatus status_ = DecodeStatus::Ok;
    size_t next_ = 0;          // the next record to write
    size_t nextPosition_ = 0;  // where its bytes begin
};
