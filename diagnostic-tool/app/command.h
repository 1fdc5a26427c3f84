#pragma once

#include <boost/program_options.hpp>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A command of the tool. Only "diagnose" exists; the shell asks it for its
// own options before the second parsing pass and then runs it.
class Command {
public:
    virtual ~Command() = default;
    virtual std::optional<boost::program_options::options_description> options(unsigned lineLength) = 0;
    virtual void configure(const boost::program_options::variables_map& options) = 0;
    virtual std::string_view name() const = 0;
    virtual void run() = 0;
};

class DiagnoseCmd : public Command {
public:
    std::optional<boost::program_options::options_description> options(unsigned) override { return std::nullopt; }
    void configure(const boost::program_options::variables_map&) override {}
    std::string_view name() const override { return "diagnose"; }
    void run() override;
};

// "diagnose" gives a DiagnoseCmd; any other word throws std::runtime_error.
std::unique_ptr<Command> createCommand(const std::string& word);
