#pragma once

// Splits a fuzzer's input into the values a target asks for. It reads the bytes the way
// libFuzzer's FuzzedDataProvider does (numbers from the end, strings from the front with
// "\" as the escape that ends them), so inputs found with either run the same way; it is
// our own so that the corpus replay builds with any compiler, not only with clang.

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

class FuzzInput
{
public:
    FuzzInput(const std::uint8_t* data, std::size_t size)
        : m_data(data)
        , m_remaining(size)
    {
    }

    std::size_t remaining_bytes() const { return m_remaining; }

    template <typename T> T ConsumeIntegralInRange(T min, T max)
    {
        static_assert(std::is_integral_v<T> && sizeof(T) <= sizeof(std::uint64_t));
        const std::uint64_t range
            = static_cast<std::uint64_t>(max) - static_cast<std::uint64_t>(min);
        std::uint64_t result = 0;
        for (std::size_t offset = 0;
             offset < sizeof(T) * CHAR_BIT && (range >> offset) > 0 && m_remaining != 0;
             offset += CHAR_BIT) {
            --m_remaining;
            result = (result << CHAR_BIT) | m_data[m_remaining];
        }
        if (range != UINT64_MAX)
            result %= range + 1;
        return static_cast<T>(static_cast<std::uint64_t>(min) + result);
    }

    bool ConsumeBool() { return (ConsumeIntegralInRange<std::uint8_t>(0, 255) & 1) != 0; }

    template <typename T, std::size_t N> T PickValueInArray(const T (&values)[N])
    {
        return values[ConsumeIntegralInRange<std::size_t>(0, N - 1)];
    }

    std::string ConsumeRandomLengthString(std::size_t maxLength)
    {
        std::string result;
        for (std::size_t i = 0; i < maxLength && m_remaining != 0; ++i) {
            char next = Take();
            if (next == '\\' && m_remaining != 0) {
                next = Take();
                if (next != '\\')
                    break;
            }
            result += next;
        }
        return result;
    }

private:
    char Take()
    {
        --m_remaining;
        return static_cast<char>(*m_data++);
    }

    const std::uint8_t* m_data;
    std::size_t m_remaining;
};
