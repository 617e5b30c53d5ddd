#include "ModemCommands.h"

#include <cctype>

namespace quillpost::sim {

namespace {

// Walks the characters after "AT", skipping the spaces modems allow anywhere.
class CommandCursor
{
public:
    explicit CommandCursor(QByteArrayView text)
        : m_text(text)
    {
    }

    bool atEnd()
    {
        skipSpaces();
        return m_position >= m_text.size();
    }
    char take()
    {
        skipSpaces();
        return static_cast<char>(std::toupper(static_cast<unsigned char>(m_text[m_position++])));
    }
    bool takeIf(char wanted)
    {
        if (atEnd() || std::toupper(static_cast<unsigned char>(m_text[m_position])) != wanted)
            return false;
        ++m_position;
        return true;
    }
    // An optional decimal argument of at most three digits; -1 when absent.
    int number()
    {
        skipSpaces();
        int value = -1;
        int digits = 0;
        while (m_position < m_text.size() && digits < 3
            && std::isdigit(static_cast<unsigned char>(m_text[m_position]))) {
            value = (value < 0 ? 0 : value * 10) + (m_text[m_position] - '0');
            ++m_position;
            ++digits;
        }
        return value;
    }
    QByteArrayView rest()
    {
        const QByteArrayView remaining = m_text.sliced(m_position);
        m_position = m_text.size();
        return remaining;
    }

private:
    void skipSpaces()
    {
        while (m_position < m_text.size() && m_text[m_position] == ' ')
            ++m_position;
    }

    QByteArrayView m_text;
    qsizetype m_position = 0;
};

bool inRange(int value, int low, int high)
{
    return value >= low && value <= high;
}

QByteArray dialledNumber(QByteArrayView dialString)
{
    QByteArray number;
    for (char c : dialString) {
        if (c != ' ' && c != ';')
            number.append(c);
    }
    return number;
}

// One ampersand command; false when the modem does not know it.
bool applyAmpersand(CommandCursor& cursor, ModemSettings& settings)
{
    if (cursor.atEnd())
        return false;
    const char command = cursor.take();
    const int value = cursor.number();
    switch (command) {
    case 'F':
        settings = ModemSettings {};
        return value <= 0;
    case 'C':
    case 'D':
    case 'K':
    case 'S':
    case 'W':
        return value <= 9;
    default:
        return false;
    }
}

// S n = v or S n ?; false when malformed.
bool applyRegister(CommandCursor& cursor, ModemSettings& settings, ModemCommandLine& result)
{
    const int index = cursor.number();
    if (index < 0)
        return false;
    if (cursor.takeIf('=')) {
        const int value = cursor.number();
        if (!inRange(value, 0, 255))
            return false;
        settings.registers[index] = value;
        return true;
    }
    if (cursor.takeIf('?')) {
        result.information.append(
            QByteArray::number(settings.registers.value(index, 0)).rightJustified(3, '0'));
        return true;
    }
    return false;
}

} // namespace

ModemCommandLine interpretCommandLine(QByteArrayView line, ModemSettings& settings)
{
    ModemCommandLine result;
    // Like a Hayes modem, start at the first "AT" and ignore what came before it
    // (a "+++" sent while already in command mode, line noise).
    qsizetype start = 0;
    while (start + 1 < line.size()
        && !(std::toupper(static_cast<unsigned char>(line[start])) == 'A'
            && std::toupper(static_cast<unsigned char>(line[start + 1])) == 'T'))
        ++start;
    if (start + 1 >= line.size())
        return result;

    CommandCursor cursor(line.sliced(start + 2));
    result.outcome = ModemCommandLine::Outcome::Ok;
    while (!cursor.atEnd()) {
        const char command = cursor.take();
        bool known = true;
        int value = -1;
        switch (command) {
        case 'D':
            if (!cursor.takeIf('T'))
                cursor.takeIf('P');
            result.number = dialledNumber(cursor.rest());
            result.outcome = ModemCommandLine::Outcome::Dial;
            return result;
        case 'A':
            result.outcome = ModemCommandLine::Outcome::Answer;
            return result;
        case 'O':
            known = cursor.number() <= 1;
            if (known)
                result.outcome = ModemCommandLine::Outcome::Online;
            break;
        case 'Z':
            settings = ModemSettings {};
            known = cursor.number() <= 1;
            break;
        case 'H':
            known = cursor.number() <= 0;
            result.hangUp = known;
            break;
        case 'E':
            value = cursor.number();
            known = value <= 1;
            if (known)
                settings.echo = value == 1;
            break;
        case 'V':
            value = cursor.number();
            known = value <= 1;
            if (known)
                settings.verbose = value == 1;
            break;
        case 'Q':
            value = cursor.number();
            known = value <= 1;
            if (known)
                settings.quiet = value == 1;
            break;
        case 'X':
            value = cursor.number();
            known = value <= 4;
            if (known)
                settings.resultLevel = value < 0 ? 0 : value;
            break;
        case 'L':
        case 'M':
            known = cursor.number() <= 3;
            break;
        case 'I':
            known = cursor.number() <= 9;
            if (known)
                result.information.append("Quillpost simulated modem");
            break;
        case 'S':
            known = applyRegister(cursor, settings, result);
            break;
        case '&':
            known = applyAmpersand(cursor, settings);
            break;
        default:
            known = false;
            break;
        }
        if (!known) {
            result.outcome = ModemCommandLine::Outcome::Error;
            result.information.clear();
            return result;
        }
    }
    return result;
}

} // namespace quillpost::sim
