#include "pcInfo.h"

#include "exception.h"

#include <algorithm>
#include <span>
#include <string_view>

namespace kvfl {
namespace {

constexpr uint8_t TAG_FIRST_TEXT = 0xC1;
constexpr uint8_t TAG_VALUE = 0xC5;
constexpr std::string_view EMPTY_TEXT = "NONE";

constexpr std::size_t MAX_COMMAND_DATA = 253;
constexpr std::size_t PART_HEADER = 2;   // A5 len
constexpr uint8_t CLA_CHAINED = 0x10;
constexpr uint8_t CLA_LAST = 0x00;

void appendItem(Bytes& out, uint8_t tag, std::span<const uint8_t> value) {
    out.push_back(tag);
    out.push_back(static_cast<uint8_t>(value.size()));
    out.insert(out.end(), value.begin(), value.end());
}

}  // namespace

Bytes serializePcInfo(const PcInfo& info) {
    Bytes items;
    uint8_t tag = TAG_FIRST_TEXT;
    for (const std::string& text : info.texts) {
        if (text.size() > maxPcInfoText) throw Exception(KVFLASH_INVALID_STRING_SIZE);
        const std::string_view shown = text.empty() ? EMPTY_TEXT : std::string_view(text);
        appendItem(items, tag++, {reinterpret_cast<const uint8_t*>(shown.data()), shown.size()});
    }
    Bytes value;
    appendBigEndian(value, info.value, 8);
    appendItem(items, TAG_VALUE, value);
    return items;
}

std::vector<ApduCommand::JournaInformation> journalInformationCommands(const PcInfo& info) {
    const Bytes items = serializePcInfo(info);
    std::vector<Bytes> chunks;
    std::span<const uint8_t> rest = items;
    while (!rest.empty()) {
        Bytes data;
        if (chunks.empty()) {
            // 80 02 and the items' total length, big-endian
            data = {0x80, 0x02};
            appendBigEndian(data, items.size(), 2);
        }
        const std::size_t part = std::min(rest.size(), MAX_COMMAND_DATA - data.size() - PART_HEADER);
        data.push_back(0xA5);
        data.push_back(static_cast<uint8_t>(part));
        data.insert(data.end(), rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(part));
        rest = rest.subspan(part);
        chunks.push_back(std::move(data));
    }
    std::vector<ApduCommand::JournaInformation> commands;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        commands.emplace_back(i + 1 == chunks.size() ? CLA_LAST : CLA_CHAINED, std::move(chunks[i]));
    }
    return commands;
}

}  // namespace kvfl
