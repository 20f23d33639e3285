#include "StringsFile.h"

namespace brisko {

QString StringsFileError::toString() const
{
    return QStringLiteral("line %1: %2").arg(line).arg(message);
}

namespace StringsFile {

namespace {

class Parser
{
public:
    explicit Parser(QStringView text) : m_text(text)
    {
        if (!m_text.isEmpty() && m_text.front() == QChar(0xFEFF))
            m_pos = 1;
    }

    StringsFileResult run()
    {
        StringsFileResult result;
        while (true) {
            if (!skipSpaceAndComments())
                break;
            if (atEnd())
                break;

            const qsizetype keyStart = m_pos;
            if (peek() != u'"') {
                fail(keyStart, QStringLiteral("expected a quoted key"));
                break;
            }
            std::optional<QString> key = readQuoted();
            if (!key)
                break;

            if (!skipSpaceAndComments())
                break;
            if (atEnd() || peek() != u'=') {
                fail(m_pos, QStringLiteral("expected '=' after the key"));
                break;
            }
            ++m_pos;

            if (!skipSpaceAndComments())
                break;
            if (atEnd() || peek() != u'"') {
                fail(m_pos, QStringLiteral("expected a quoted value"));
                break;
            }
            std::optional<QString> value = readQuoted();
            if (!value)
                break;

            // A forgotten semicolon is reported where the value ends, which is
            // where the author has to add it.
            const qsizetype valueEnd = m_pos;
            if (!skipSpaceAndComments())
                break;
            if (atEnd() || peek() != u';') {
                fail(valueEnd, QStringLiteral("missing ';' after the value"));
                break;
            }
            ++m_pos;

            result.entries.insert(std::move(*key), std::move(*value));
        }
        result.error = std::move(m_error);
        return result;
    }

private:
    bool atEnd() const { return m_pos >= m_text.size(); }
    QChar peek() const { return m_text[m_pos]; }

    void fail(qsizetype position, const QString &message)
    {
        m_error = StringsFileError{lineAt(position), message};
    }

    // Counted only when something went wrong, so clean files pay nothing for it.
    // "\r\n", "\n" and a lone "\r" each end one line.
    int lineAt(qsizetype position) const
    {
        int line = 1;
        const qsizetype end = std::min(position, m_text.size());
        for (qsizetype i = 0; i < end; ++i) {
            const QChar c = m_text[i];
            if (c == u'\n')
                ++line;
            else if (c == u'\r' && (i + 1 >= m_text.size() || m_text[i + 1] != u'\n'))
                ++line;
        }
        return line;
    }

    // False after an unterminated block comment.
    bool skipSpaceAndComments()
    {
        while (!atEnd()) {
            const QChar c = peek();
            if (c.isSpace()) {
                ++m_pos;
            } else if (c == u'/' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == u'*') {
                const qsizetype start = m_pos;
                const qsizetype close = m_text.indexOf(u"*/", m_pos + 2);
                if (close < 0) {
                    fail(start, QStringLiteral("unterminated comment"));
                    m_pos = m_text.size();
                    return false;
                }
                m_pos = close + 2;
            } else if (c == u'/' && m_pos + 1 < m_text.size() && m_text[m_pos + 1] == u'/') {
                m_pos += 2;
                while (!atEnd() && peek() != u'\n' && peek() != u'\r')
                    ++m_pos;
            } else {
                return true;
            }
        }
        return true;
    }

    static int hexValue(QChar c)
    {
        const char16_t u = c.unicode();
        if (u >= u'0' && u <= u'9')
            return u - u'0';
        if (u >= u'a' && u <= u'f')
            return u - u'a' + 10;
        if (u >= u'A' && u <= u'F')
            return u - u'A' + 10;
        return -1;
    }

    // At an opening quote; leaves m_pos after the closing quote.
    std::optional<QString> readQuoted()
    {
        const qsizetype start = m_pos;
        ++m_pos;
        QString out;
        qsizetype runStart = m_pos;
        while (!atEnd()) {
            const QChar c = peek();
            if (c == u'"') {
                out += m_text.sliced(runStart, m_pos - runStart);
                ++m_pos;
                return out;
            }
            if (c != u'\\') {
                ++m_pos;
                continue;
            }
            out += m_text.sliced(runStart, m_pos - runStart);
            const qsizetype escape = m_pos;
            ++m_pos;
            if (atEnd())
                break;
            const QChar e = peek();
            ++m_pos;
            switch (e.unicode()) {
            case u'n': out += u'\n'; break;
            case u't': out += u'\t'; break;
            case u'r': out += u'\r'; break;
            case u'U':
            case u'u': {
                int code = 0;
                for (int i = 0; i < 4; ++i) {
                    const int digit = atEnd() ? -1 : hexValue(peek());
                    if (digit < 0) {
                        fail(escape, QStringLiteral("\\U needs four hex digits"));
                        return std::nullopt;
                    }
                    code = code * 16 + digit;
                    ++m_pos;
                }
                out += QChar(char16_t(code));
                break;
            }
            default:
                // \" \\ and any other pair: the character itself.
                out += e;
                break;
            }
            runStart = m_pos;
        }
        fail(start, QStringLiteral("unterminated string"));
        return std::nullopt;
    }

    QStringView m_text;
    qsizetype m_pos = 0;
    std::optional<StringsFileError> m_error;
};

} // namespace

StringsFileResult parse(QStringView text)
{
    return Parser(text).run();
}

} // namespace StringsFile

} // namespace brisko
