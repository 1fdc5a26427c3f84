#pragma once

#include "logging/checkResult.h"
#include "logCapture.h"
#include "logging/logger.h"
#include "pcscWrapper/token.h"
#include "scriptedPcsc.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Expected report lines in these tests are written by hand from the report
// rules and the scripted answers, never captured from the program's output.

// A report line at a nesting level.
inline std::string at(int level, const std::string& text)
{
    return std::string(2 * level, ' ') + text;
}

// The global PIN check of the healthy token inside the key-information group,
// from its blank opening line on.
inline std::vector<std::string> healthyGlobalPinLines()
{
    std::vector<std::string> lines{"", at(2, "Проверка Глобальных PIN - кодов")};
    for (const auto& [pin, fileId] : {std::pair{"Администратора", "0001"}, std::pair{"Пользователя", "0002"}}) {
        for (const std::string& line : {at(3, pin), at(4, "Получение информации"), at(5, "Тип файла: RSF"),
                                        at(5, std::string("Идентификатор файла: ") + fileId),
                                        at(5, "Состояние жизненного цикла: 05"), at(4, "Проверка целостности"),
                                        at(4, "-> Успешно")})
            lines.push_back(line);
    }
    return lines;
}

// Identity answer with firmware 1.4.<build>.3 and 64 KiB of EEPROM. Type 01
// with a build above 27 is a Kelvane Mirel 3.0, type 02 a Kelvane Brisa; bit 7
// of hardwareGroup picks the flash-equipped models; modelInfo above 26 marks new
// hardware, above 0x1F a token that names its model. Builds below 32 keep no
// security journal, so the journal step sends nothing.
inline std::string identityAnswer(uint8_t type, uint8_t firmwareBuild, uint8_t hardwareGroup = 0x00,
                                  uint8_t modelInfo = 0x10)
{
    const Bytes identity{type, 0x01, 0x08, 0x00, modelInfo, 0x00, hardwareGroup, firmwareBuild, 0x03, 0x04, 0x00, 0x00};
    return toHex(identity) + " 90 00";
}

// The FCP answer of an RSF file (or, with folder, of a folder) with its identifier.
inline std::string rsfFileFcp(const std::string& fileIdHex, bool folder = false)
{
    return "62 08 82 02 " + std::string(folder ? "38" : "10") + " 00 83 02 " + fileIdHex + " 90 00";
}

// A token that passes every check, scripted answer by answer; a test overrides
// single answers with card.on(...) before it first calls token(). The report is
// captured and written from the suite's level 1, as performDiagnostics does.
class HealthyTokenTest : public testing::Test {
protected:
    static constexpr uint64_t kSerial = 305419896;

    HealthyTokenTest()
    {
        card.on("80 7E", "90 00");  // every diagnostic function passes
        for (int test = 0x10; test <= 0x19; ++test)
            card.on(toHex({0x80, 0x7E, static_cast<uint8_t>(test)}), "00 00 00 00 90 00");
        card.on("00 CA 01 89", identityAnswer(0x01, 28))
            .on("00 CA 01 81", "00 00 00 00 12 34 56 78 90 00")
            .on("00 CA 01 8C", "6A 81")  // no hardware data: not the newest hardware
            .on("00 CA 01 F1", "00 90 00")
            .on("80 7E 00 00", "00 01 A2 FF 90 00")
            .on("00 CA 01 32", "00 00 05 FC 90 00")
            .on("00 CA 01 34", "00 00 00 57 90 00")
            .on("00 CA 01 8A", "00 00 AB 00 90 00")
            .on("00 CA 01 01", "62 0B 82 02 10 00 83 02 00 01 8A 01 05 90 00")
            .on("00 CA 01 02", "62 0B 82 02 10 00 83 02 00 02 8A 01 05 90 00")
            .on("00 A4 08 04", "90 00")
            .on("00 A4 00 04", rsfFileFcp("01 01"))
            .on("00 A4 00 06", "6A 82")
            .on("00 A4 03 04", "90 00")
            .on("80 7E 41 01", "00 00 00 00 00 00 00 00 00 00 00 00 90 00")
            .on("80 7E 51 01", "85 08 00 01 00 00 00 0A 00 00 90 00")
            .on("00 84 00 00", std::string(64, '0') + " 90 00");
        logger.level = 1;
    }

    Token& token()
    {
        if (!token_)
            token_.emplace(std::make_shared<Scard>(pcsc, "Reader"), pcsc.flash);
        return *token_;
    }

    const std::vector<std::string>& report() const { return capture.lines(); }

    // Every command the card received, as hex.
    std::vector<std::string> sentCommands() const
    {
        std::vector<std::string> sent;
        for (const Bytes& command : card.received)
            sent.push_back(toHex(command));
        return sent;
    }

    ScriptedPcsc pcsc;
    ScriptedCard& card = pcsc.addReader("Reader", hexBytes("3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 03 00 00 00 00 68"));
    LogCapture capture;
    logging::Logger logger{kSerial};
    // The verdict as the run keeps it: cleared by the callback the checks get.
    bool allChecksPassed = true;
    const MarkFailed markFailed = [this] { allChecksPassed = false; };

private:
    std::optional<Token> token_;
};
