#include "LineBuffer.h"

namespace corvane::helper {

bool LineBuffer::takeLine(std::string *line)
{
    const std::size_t newline = m_bytes.find('\n');
    if (newline == std::string::npos)
        return false;
    line->assign(m_bytes, 0, newline);
    m_bytes.erase(0, newline + 1);
    return true;
}

} // namespace corvane::helper
