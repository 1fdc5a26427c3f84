#include "app/command.h"

#include <stdexcept>

std::unique_ptr<Command> createCommand(const std::string& word)
{
    if (word == "diagnose")
        return std::make_unique<DiagnoseCmd>();
    throw std::runtime_error(
        "Некорректный вызов утилиты. Используйте \"--help\" для вывода справочной информации");
}
