#pragma once

#include <cstddef>
#include <string>

namespace corvane::helper {

// Collects received bytes and hands out whole lines (without their line feed).
class LineBuffer {
public:
    void append(const char *data, std::size_t size) { m_bytes.append(data, size); }
    bool takeLine(std::string *line);
    std::size_t pending() const { return m_bytes.size(); }

private:
    std::string m_bytes;
};

} // namespace corvane::helper
