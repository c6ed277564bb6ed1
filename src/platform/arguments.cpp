#include "platform/arguments.h"

namespace platform {

Arguments::Arguments(int argc, char** argv) {
    for (int i = 0; i < argc && argv && argv[i]; ++i)
        m_text.emplace_back(argv[i]);
    for (auto& s : m_text)
        m_pointers.push_back(s.data());
    m_pointers.push_back(nullptr);
}

}  // namespace platform
