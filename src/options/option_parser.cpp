#include "options/option_parser.h"

#include <iomanip>
#include <iostream>
#include <sstream>

OptionParser::OptionParser(std::ostream& out) : m_out(&out) {}
OptionParser::OptionParser() : m_out(&std::cout) {}

void OptionParser::addOption(const std::string& group, const std::string& name, const std::string& parameterName,
                             const std::string& help, OptionKind kind) {
    m_order.push_back(name);
    Option opt;
    opt.kind = kind;
    opt.name = name;
    opt.help = help;
    opt.parameterName = parameterName;
    opt.group = group;
    m_options[name] = opt;
}

void OptionParser::addFlag(const std::string& group, const std::string& name, const std::string& help) {
    addOption(group, name, "", help, OptionKind::Flag);
}

// Formatted stream extraction: leading blanks skipped, the longest valid
// prefix taken, the rest ignored ("29.97" -> 29 as an integer).
template <typename T>
static bool extract(const std::string& text, T& value) {
    std::istringstream in(text);
    T v{};
    in >> v;
    if (in.fail())
        return false;
    value = v;
    return true;
}

bool OptionParser::convert(Option& opt, const std::string& text) const {
    switch (opt.kind) {
    case OptionKind::Int:
        return extract(text, opt.intValue);
    case OptionKind::Int64:
        return extract(text, opt.int64Value);
    case OptionKind::Float:
        return extract(text, opt.floatValue);
    case OptionKind::String:
    case OptionKind::Flag:
        return true;
    }
    return true;
}

bool OptionParser::parse(int argc, char** argv) {
    std::ostream& out = *m_out;
    if (argc < 2)
        return true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (arg.empty() || arg[0] != '-') {
            out << "ERROR : Unexpected parameter " << arg << "!" << std::endl;
            return false;
        }
        const std::string name = arg.substr(1);
        auto it = m_options.find(name);
        if (it == m_options.end()) {
            out << "ERROR : Unknown option -" << name << "!" << std::endl;
            return false;
        }
        Option& opt = it->second;
        if (opt.kind == OptionKind::Flag) {
            opt.set = true;
            ++m_setCount;
            continue;
        }
        if (i + 1 >= argc || !argv[i + 1] || argv[i + 1][0] == '-') {
            out << "ERROR : Option -" << name << " expects parameter!" << std::endl;
            return false;
        }
        const std::string value = argv[i + 1];
        if (!convert(opt, value)) {
            out << "ERROR : Option -" << name << " parameter in wrong format (bad cast) !" << std::endl;
            return false;
        }
        opt.valueText = value;
        opt.set = true;
        ++m_setCount;
        ++i;
    }
    return true;
}

const Option* OptionParser::find(const std::string& name) const {
    auto it = m_options.find(name);
    return it == m_options.end() ? nullptr : &it->second;
}

bool OptionParser::isSet(const std::string& name) const {
    const Option* o = find(name);
    return o && o->set;
}

int32_t OptionParser::getInt(const std::string& name, int32_t def) const {
    const Option* o = find(name);
    return o && o->set ? o->intValue : def;
}

int64_t OptionParser::getInt64(const std::string& name, int64_t def) const {
    const Option* o = find(name);
    return o && o->set ? o->int64Value : def;
}

float OptionParser::getFloat(const std::string& name, float def) const {
    const Option* o = find(name);
    return o && o->set ? o->floatValue : def;
}

std::string OptionParser::getString(const std::string& name, const std::string& def) const {
    const Option* o = find(name);
    return o && o->set ? o->valueText : def;
}

std::string OptionParser::getString(const std::string& name) const {
    const Option* o = find(name);
    return o ? o->valueText : std::string();
}

void OptionParser::printHelp() const {
    std::ostream& out = *m_out;
    std::string group;
    for (const auto& name : m_order) {
        const Option* o = find(name);
        if (!o || o->group == "hidden")
            continue;
        if (o->group != group) {
            out << std::endl << o->group << std::endl;
            group = o->group;
        }
        out << "  -" << std::setw(7) << o->name;
        if (o->kind == OptionKind::Flag)
            out << std::string(13, ' ');
        else
            out << std::setw(13) << ("[" + o->parameterName + "]");
        out << " - " << o->help << std::endl;
    }
}

void OptionParser::printSetOptions() const {
    std::ostream& out = *m_out;
    for (const auto& name : m_order) {
        const Option* o = find(name);
        if (!o || !o->set)
            continue;
        out << o->name << " : ";
        switch (o->kind) {
        case OptionKind::Flag: out << "enabled"; break;
        case OptionKind::String: out << o->valueText; break;
        case OptionKind::Int: out << o->intValue; break;
        case OptionKind::Int64: out << o->int64Value; break;
        case OptionKind::Float: out << o->floatValue; break;
        }
        out << std::endl;
    }
}
