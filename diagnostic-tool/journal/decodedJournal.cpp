#include "journal/decodedJournal.h"

#include "journal/journalRecords.h"

DecodedJournal::DecodedJournal(ByteView journal)
{
    size_t position = 0;
    while (position < journal.size()) {
        auto record = parseRecord(journal, position);
        if (!record) {
            // A broken frame leaves no trustworthy record boundary anywhere.
            records_.clear();
            status_ = DecodeStatus::JournalFailed;
            return;
        }
        if (record->tag() == 0)
            status_ = DecodeStatus::SomeRecordsFailed;
        position += 2 + journal[position + 1];
        records_.push_back(std::move(record));
    }
}

DecodedJournal::~DecodedJournal() = default;

namespace {

bool succeeded(const JournalRecord& record)
{
    return record.statusWord() == kSwSuccess;
}

}  // namespace

std::optional<std::string> DecodedJournal::nextRecordText()
{
    // Completion records only vouch for the operation before them.
    while (next_ < records_.size() && records_[next_]->tag() == kOperationCompletionTag)
        ++next_;
    if (next_ == records_.size())
        return std::nullopt;

    const JournalRecord& record = *records_[next_++];
    std::string text = record.toString();
    if (operationNeedsCompletion(record.tag()) && succeeded(record)) {
        const bool completed = next_ < records_.size() && records_[next_]->tag() == kOperationCompletionTag &&
                               succeeded(*records_[next_]);
        if (!completed)
            text += "Операция не была завершена\n";
    }
    return text;
}
