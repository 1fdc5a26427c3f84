#include "diagnostics/globalPins.h"

#include "diagnostics/reportLines.h"
#include "diagnostics/rsfChecks.h"
#include "pcscWrapper/tlv.h"
#include "utils/hexText.h"

#include <array>
#include <stdexcept>

namespace {

struct GlobalPin {
    const char* owner;
    uint8_t pinNumber;
    uint8_t object;
};

constexpr std::array<GlobalPin, 2> kGlobalPins{{
    {"Администратора", 0x01, kAdminPinObject},
    {"Пользователя", 0x02, kUserPinObject},
}};

struct FileType {
    uint8_t descriptor;
    const char* line;
};

constexpr std::array<FileType, 3> kFileTypes{{
    {0x38, "Тип файла: директория"},
    {0x10, "Тип файла: RSF"},
    {0x01, "Тип файла: EF"},
}};

constexpr const char* kTitle = "Проверка Глобальных PIN - кодов";

const char* fileTypeLine(ByteView descriptor)
{
    if (descriptor.size() != 2 || descriptor[1] != 0x00)
        return nullptr;
    for (const FileType& type : kFileTypes)
        if (type.descriptor == descriptor[0])
            return type.line;
    return nullptr;
}

// Writes the attribute's line one level deeper; false when the attribute is not one of those known.
bool writeAttribute(logging::Logger& logger, const Tlv& attribute)
{
    DeeperLevel attributeLevel(logger);
    const ByteView value = attribute.value;
    switch (attribute.tag) {
    case 0x82:
        if (const char* line = fileTypeLine(value)) {
            logger.indented() << line;
            return true;
        }
        return false;
    case 0x83:
        if (value.size() != 2)
            return false;
        logger.indented() << "Идентификатор файла: " << lowerHex(bigEndian(value), 4);
        return true;
    case 0x85:
    case 0x86: {
        auto line = logger.indented();
        line << (attribute.tag == 0x85 ? "Собственная информация файла: " : "Атрибуты безопасности: ");
        writeHexBytes(line, value);
        return true;
    }
    case 0x8A:
        if (value.size() != 1)
            return false;
        logger.indented() << "Состояние жизненного цикла: " << lowerHex(value[0], 2);
        return true;
    default:
        return false;
    }
}

void writeUnknownAttribute(logging::Logger& logger, const Tlv& attribute, const MarkFailed& markFailed)
{
    logger.indented() << resultText(CheckResult::Error);
    auto line = logger.indented();
    line << "Неизвестный атрибут : Tag = " << lowerHex(attribute.tag, 2) << " Value = ";
    writeHexBytes(line, attribute.value);
    markFailed();
}

// The FCP template's attributes, or none in an answer without a template.
TlvSequence fcpAttributes(const Bytes& answer)
{
    try {
        return parseTlv(findTag(answer, kFcpTemplateTag), TlvLengths::Ber);
    } catch (const std::logic_error&) {
        return {{}, false};
    }
}

// Attribute lines go one level below the current one, unknown attributes at it.
// An answer without a template, or one whose lengths run past its end, is
// reported as of unknown format from there on.
void writeAttributes(logging::Logger& logger, const Bytes& answer, const MarkFailed& markFailed)
{
    const TlvSequence attributes = fcpAttributes(answer);
    for (const Tlv& attribute : attributes.objects)
        if (!writeAttribute(logger, attribute))
            writeUnknownAttribute(logger, attribute, markFailed);
    if (!attributes.complete) {
        writeUnreadableAnswer(logger, "Неизвестный формат информации", answer);
        markFailed();
    }
}

void checkGlobalPin(Token& token, logging::Logger& logger, const GlobalPin& pin, CheckResult& kiSeverity,
                    const MarkFailed& markFailed)
{
    logger.indented() << pin.owner;
    DeeperLevel steps(logger);
    logger.indented() << "Получение информации";
    const ApduResponse fcp = token.sendApdu(GetGlobalPinFcpApdu(pin.pinNumber));
    if (fcp.sw != kSwSuccess) {
        kiSeverity = CheckResult::Fatal;
        writeRefusal(logger, CheckResult::Fatal, fcp.sw);
    } else {
        writeAttributes(logger, fcp.data, markFailed);
    }
    logger.indented() << "Проверка целостности";
    protectedObjectIntegrity(token, logger, pin.object, CheckResult::Fatal, kiSeverity);
}

}  // namespace

void globalPinsCheck(Token& token, logging::Logger& logger, CheckResult& kiSeverity, const MarkFailed& markFailed)
{
    logger.line();
    logger.indented() << kTitle;
    {
        DeeperLevel pins(logger);
        for (const GlobalPin& pin : kGlobalPins)
            checkGlobalPin(token, logger, pin, kiSeverity, markFailed);
    }
    if (kiSeverity != CheckResult::Success)
        writeSeveritySummary(logger, kTitle, CheckResult::Fatal);
}
