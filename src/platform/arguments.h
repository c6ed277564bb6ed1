#pragma once
// The command line as UTF-8 strings. On Linux the kernel hands over the bytes
// the user typed; in a UTF-8 locale those already are UTF-8, so they are kept
// as they are. The vector owns the text for as long as the pointers are used.

#include <string>
#include <vector>

namespace platform {

class Arguments {
public:
    Arguments(int argc, char** argv);
    int argc() const { return static_cast<int>(m_text.size()); }
    char** argv() { return m_pointers.data(); }

private:
    std::vector<std::string> m_text;
    std::vector<char*> m_pointers;  // one per argument plus a terminating null
};

}  // namespace platform
