#include "journal/decodedJournal.h"

#include "journal/journalRecords.h"

DecodedJournal::DecodedJournal(ByteView journal) : bytes_(journal.begin(), journal.end())
{
    size_t position = 0;
    while (position < bytes_.size()) {
        const std::optional<JournalRecord> record = parseRecord(bytes_, position);
        if (!record) {
            // A broken frame leaves no trustworthy record boundary anywhere.
            records_.clear();
            status_ = DecodeStatus::JournalFailed;
            return;
        }
        if (record->tag() == 0)
            status_ = DecodeStatus::SomeRecordsFailed;
        position += 2 + bytes_[position + 1];
        records_.push_back({record->tag(), record->statusWord() == kSwSuccess});
    }
}

void DecodedJournal::skipRecord()
{
    nextPosition_ += 2 + bytes_[nextPosition_ + 1];
    ++next_;
}

bool DecodedJournal::appendNextRecordText(std::string& text)
{
    // Completion records only vouch for the operation before them.
    while (next_ < records_.size() && records_[next_].tag == kOperationCompletionTag)
        skipRecord();
    if (next_ == records_.size())
        return false;

    const RecordMark record = records_[next_];
    // The bytes decoded into this record once already.
    parseRecord(bytes_, nextPosition_)->appendText(text);
    skipRecord();
    if (operationNeedsCompletion(record.tag) && record.succeeded) {
        const bool completed =
            next_ < records_.size() && records_[next_].tag == kOperationCompletionTag && records_[next_].succeeded;
        if (!completed)
            text += "Операция не была завершена\n";
    }
    return true;
}

std::optional<std::string> DecodedJournal::nextRecordText()
{
    std::string text;
    if (!appendNextRecordText(text))
        return std::nullopt;
    return text;
}
