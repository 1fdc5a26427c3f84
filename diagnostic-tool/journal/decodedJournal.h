#pragma once

#include "pcscWrapper/apdu.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class JournalRecord;

enum class DecodeStatus { Ok = 0, SomeRecordsFailed = 1, JournalFailed = 2 };

// The security journal cut into records; decoding never throws.
class DecodedJournal {
public:
    explicit DecodedJournal(ByteView journal);
    ~DecodedJournal();

    DecodeStatus status() const { return status_; }
    // Text of the next record for the journal file, or none when all are written.
    std::optional<std::string> nextRecordText();

private:
    std::vector<std::unique_ptr<JournalRecord>> records_;
    DecodeStatus status_ = DecodeStatus::Ok;
    size_t next_ = 0;
};
