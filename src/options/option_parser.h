#pragma once
// The table of single-dash options: registration, parsing of argv, the help
// listing, the echo of given options, and typed queries with caller defaults.

#include "options/option.h"

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

class OptionParser {
public:
    explicit OptionParser(std::ostream& out);
    OptionParser();  // writes to standard output

    void addOption(const std::string& group, const std::string& name, const std::string& parameterName,
                   const std::string& help, OptionKind kind);
    void addFlag(const std::string& group, const std::string& name, const std::string& help);

    // False after printing exactly one error line.
    bool parse(int argc, char** argv);

    bool isSet(const std::string& name) const;
    int32_t getInt(const std::string& name, int32_t def) const;
    int64_t getInt64(const std::string& name, int64_t def) const;
    float getFloat(const std::string& name, float def) const;
    std::string getString(const std::string& name, const std::string& def) const;
    std::string getString(const std::string& name) const;  // value text, set or not

    void printHelp() const;
    void printSetOptions() const;

    int setCount() const { return m_setCount; }

private:
    const Option* find(const std::string& name) const;
    bool convert(Option& opt, const std::string& text) const;

    std::ostream* m_out;
    std::vector<std::string> m_order;
    std::map<std::string, Option> m_options;
    int m_setCount = 0;
};
