// The raw message: the multipart layout, the boundary, the To line, encoded-words for
// non-ASCII header text, quoted-printable for over-long lines, and the header guard.

#include "Base64.h"
#include "FakeSesServer.h"
#include "MimeMessage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace brisko;

namespace {

std::optional<QString> opt(const QString &s)
{
    return s.isNull() ? std::nullopt : std::optional<QString>(s);
}

// The header's text as a reader sees it: continuation lines joined, adjacent encoded-words
// decoded and run together.
QString decodedHeader(const QString &lines)
{
    QString unfolded = lines;
    unfolded.replace(u"\n "_s, u" "_s);
    if (unfolded.endsWith(u'\n'))
        unfolded.chop(1);
    static const QRegularExpression run(uR"((=\?UTF-8\?B\?[A-Za-z0-9+/=]*\?=)(\s+=\?UTF-8\?B\?[A-Za-z0-9+/=]*\?=)*)"_s);
    static const QRegularExpression word(uR"(=\?UTF-8\?B\?([A-Za-z0-9+/=]*)\?=)"_s);
    QString result;
    qsizetype at = 0;
    for (auto it = run.globalMatch(unfolded); it.hasNext();) {
        const auto match = it.next();
        result += unfolded.mid(at, match.capturedStart() - at);
        QByteArray bytes;
        for (auto words = word.globalMatch(match.captured()); words.hasNext();)
            bytes += QByteArray::fromBase64(words.next().captured(1).toLatin1());
        result += QString::fromUtf8(bytes);
        at = match.capturedEnd();
    }
    return result + unfolded.mid(at);
}

QByteArray decodeQuotedPrintable(const QByteArray &text)
{
    QByteArray out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) != '=') {
            out += text.at(i);
        } else if (text.mid(i + 1, 1) == "\n") {
            ++i;
        } else {
            out += char(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        }
    }
    return out;
}

// The message's header block, and each part's header and content, split at the boundary.
struct Parsed
{
    QString header;
    QString preamble;
    QList<std::pair<QString, QString>> parts; // part header, content
};

Parsed parse(const QString &message, const QString &boundary)
{
    Parsed parsed;
    const qsizetype headerEnd = message.indexOf(u"\n\n"_s);
    parsed.header = message.left(headerEnd + 1);
    const QString body = message.mid(headerEnd + 2);
    const QString close = u"\n--"_s + boundary + u"--\n\n"_s;
    Q_ASSERT(body.endsWith(close));
    const QStringList pieces = body.chopped(close.size()).split(u"\n\n--"_s + boundary + u'\n');
    parsed.preamble = pieces.first();
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const qsizetype end = pieces.at(i).indexOf(u"\n\n"_s);
        parsed.parts.append({pieces.at(i).left(end + 1), pieces.at(i).mid(end + 2)});
    }
    return parsed;
}

} // namespace

class TestMimeMessage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layout_data();
    void layout();
    void boundary();
    void toLineIsTheSecondLine();
    void encodedWords_data();
    void encodedWords();
    void lineBreaksInHeadersBecomeBlanks_data();
    void lineBreaksInHeadersBecomeBlanks();
    void quotedPrintableForLongLines_data();
    void quotedPrintableForLongLines();
    void quotedPrintableText_data();
    void quotedPrintableText();
    void requestValue();
    void independentParserReadsWhatWasMeant();
};

void TestMimeMessage::layout_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("replyTo");
    QTest::addColumn<QString>("returnPath");
    QTest::addColumn<QString>("expected");

    const QString tail = u"Content-Type: text/plain; charset=\"UTF-8\"\nContent-Disposition: inline\n\n"_s;
    QTest::newRow("every header")
        << u"Hello\nWorld"_s << u"<p>Hi</p>"_s << u"Hi"_s << u"Ann <a@x.com>"_s << u"r@x.com"_s << u"b@x.com"_s
        << u"From: Ann <a@x.com>\nReply-To: r@x.com\nReturn-Path: b@x.com\nSubject: Hi\nMIME-Version: 1.0\n"
           "Content-Type: multipart/alternative; boundary=\"B\"\n\n"
           "Hello\nWorld\n\n--B\n"_s
               + tail
               + u"Hello\nWorld\n\n--B\nContent-Type: text/html; charset=\"UTF-8\"\n\n<p>Hi</p>\n--B--\n\n"_s;
    QTest::newRow("empty Reply-To and Return-Path, empty From")
        << u"x"_s << u"<i>y</i>"_s << u"S"_s << u""_s << u""_s << u""_s
        << u"From: \nSubject: S\nMIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"B\"\n\n"
           "x\n\n--B\n"_s
               + tail + u"x\n\n--B\nContent-Type: text/html; charset=\"UTF-8\"\n\n<i>y</i>\n--B--\n\n"_s;
    QTest::newRow("no Reply-To, no Return-Path")
        << u"x"_s << u"<i>y</i>"_s << u"S"_s << u"a@x.com"_s << QString() << QString()
        << u"From: a@x.com\nSubject: S\nMIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"B\"\n\n"
           "x\n\n--B\n"_s
               + tail + u"x\n\n--B\nContent-Type: text/html; charset=\"UTF-8\"\n\n<i>y</i>\n--B--\n\n"_s;
    QTest::newRow("blank HTML: plain part only")
        << u"x"_s << u"  \n\t\r\n "_s << u"S"_s << u"a@x.com"_s << QString() << QString()
        << u"From: a@x.com\nSubject: S\nMIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"B\"\n\n"
           "x\n\n--B\n"_s
               + tail + u"x\n--B--\n\n"_s;
    QTest::newRow("HTML kept untrimmed, raw UTF-8 bodies")
        << u"Gr\u00fc\u00dfe"_s << u"\n <b>\u00e9</b> \n"_s << u"S"_s << u"a@x.com"_s << QString() << QString()
        << u"From: a@x.com\nSubject: S\nMIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"B\"\n\n"
           "Gr\u00fc\u00dfe\n\n--B\n"_s
               + tail
               + u"Gr\u00fc\u00dfe\n\n--B\nContent-Type: text/html; charset=\"UTF-8\"\n\n\n <b>\u00e9</b> \n\n--B--\n\n"_s;
}

void TestMimeMessage::layout()
{
    QFETCH(QString, plain);
    QFETCH(QString, html);
    QFETCH(QString, subject);
    QFETCH(QString, from);
    QFETCH(QString, replyTo);
    QFETCH(QString, returnPath);
    QFETCH(QString, expected);
    QCOMPARE(MimeMessage::createMessageWithBoundary(u"B"_s, plain, html, subject, from, std::nullopt, opt(replyTo),
                                                    opt(returnPath)),
             expected);
}

void TestMimeMessage::boundary()
{
    static const QRegularExpression form(uR"(^==boundary(-?\d+)(-?\d+)(-?\d+)==$)"_s);
    const QString first = MimeMessage::createBoundary();
    const QString second = MimeMessage::createBoundary();
    QVERIFY2(form.match(first).hasMatch(), qPrintable(first));
    QVERIFY(first != second); // rand() moves on

    const QString message = MimeMessage::createMessage(u"p"_s, u"<p>h</p>"_s, u"s"_s, u"f@x.com"_s, {}, {});
    static const QRegularExpression declared(u"boundary=\"(==boundary-?\\d+==)\""_s);
    const auto match = declared.match(message);
    QVERIFY(match.hasMatch());
    const QString b = match.captured(1);
    QCOMPARE(message.count(u"\n--"_s + b + u'\n'), 2);
    QVERIFY(message.endsWith(u"\n--"_s + b + u"--\n\n"_s));
    QVERIFY(!message.contains(u"\nTo:"_s));
    QVERIFY(!message.contains(u'\r'));
}

void TestMimeMessage::toLineIsTheSecondLine()
{
    const QString withTo = MimeMessage::createMessageWithBoundary(u"B"_s, u"p"_s, u"h"_s, u"s"_s, u"f@x.com"_s,
                                                                  u"jane+news@example.com"_s, u"r@x.com"_s, {});
    const QString without = MimeMessage::createMessageWithBoundary(u"B"_s, u"p"_s, u"h"_s, u"s"_s, u"f@x.com"_s,
                                                                   std::nullopt, u"r@x.com"_s, {});
    QStringList lines = withTo.split(u'\n');
    QCOMPARE(lines.at(0), u"From: f@x.com"_s);
    QCOMPARE(lines.at(1), u"To: jane+news@example.com"_s);
    lines.removeAt(1);
    QCOMPARE(lines.join(u'\n'), without);

    const QString sent = MimeMessage::createMessageTo(u"p"_s, u"h"_s, u"s"_s, u"f@x.com"_s, u"a@x.com"_s, {}, {});
    QCOMPARE(sent.section(u'\n', 1, 1), u"To: a@x.com"_s);
}

void TestMimeMessage::encodedWords_data()
{
    using K = MimeMessage::HeaderKind;
    QTest::addColumn<QString>("name");
    QTest::addColumn<K>("kind");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("readAs"); // the text a reader decodes
    QTest::addColumn<QString>("exact");  // when not empty: the exact lines

    const QString longAscii = QString(200, u'a');
    QTest::newRow("ASCII subject kept exactly, even long")
        << u"Subject"_s << K::Text << longAscii << longAscii << u"Subject: "_s + longAscii + u'\n';
    QTest::newRow("ASCII address kept exactly") << u"From"_s << K::Addresses << u"\"Doe, J\" <j@x.com>"_s
                                                << u"\"Doe, J\" <j@x.com>"_s << u"From: \"Doe, J\" <j@x.com>\n"_s;
    QTest::newRow("short subject") << u"Subject"_s << K::Text << u"Gr\u00fc\u00dfe"_s << u"Gr\u00fc\u00dfe"_s
                                   << u"Subject: =?UTF-8?B?R3LDvMOfZQ==?=\n"_s;
    QString longSubject;
    for (int i = 0; i < 12; ++i)
        longSubject += u"Sch\u00f6ne Gr\u00fc\u00dfe aus K\u00f6ln "_s;
    QTest::newRow("long subject folded") << u"Subject"_s << K::Text << longSubject << longSubject << QString();
    const QString emoji = QString(60, u'x').replace(u"x"_s, u"\U0001F600"_s);
    QTest::newRow("surrogate pairs stay whole") << u"Subject"_s << K::Text << emoji << emoji << QString();
    QTest::newRow("display name encoded, address as typed")
        << u"From"_s << K::Addresses << u"J\u00f6rg M\u00fcller <jm@example.com>"_s
        << u"J\u00f6rg M\u00fcller <jm@example.com>"_s
        << u"From: =?UTF-8?B?SsO2cmcgTcO8bGxlcg==?= <jm@example.com>\n"_s;
    QTest::newRow("quoted display name unquoted")
        << u"Reply-To"_s << K::Addresses << u"\"M\u00fcller, J\u00f6rg\" <jm@example.com>"_s
        << u"M\u00fcller, J\u00f6rg <jm@example.com>"_s << QString();
    QTest::newRow("address list, ASCII names kept")
        << u"Reply-To"_s << K::Addresses << u"Zo\u00eb <z@x.com>, Bob <b@x.com>"_s
        << u"Zo\u00eb <z@x.com>, Bob <b@x.com>"_s << QString();
    const QString longName = QString(90, u'\u00e9');
    QTest::newRow("long display name folded before the address")
        << u"Return-Path"_s << K::Addresses << longName + u" <very.long.address.of.someone@subdomain.example.com>"_s
        << longName + u" <very.long.address.of.someone@subdomain.example.com>"_s << QString();
}

void TestMimeMessage::encodedWords()
{
    QFETCH(QString, name);
    QFETCH(MimeMessage::HeaderKind, kind);
    QFETCH(QString, value);
    QFETCH(QString, readAs);
    QFETCH(QString, exact);

    const QString lines = MimeMessage::headerLines(name, value, kind);
    if (!exact.isEmpty())
        QCOMPARE(lines, exact);
    QCOMPARE(decodedHeader(lines), name + u": "_s + readAs);
    if (value.size() > 100 && exact.isEmpty())
        QVERIFY(lines.count(u'\n') > 1);

    static const QRegularExpression word(uR"(=\?UTF-8\?B\?([A-Za-z0-9+/=]*)\?=)"_s);
    const QStringList parts = lines.chopped(1).split(u'\n');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString &line = parts.at(i);
        if (exact.isEmpty())
            QVERIFY2(line.size() <= 78, qPrintable(line));
        QVERIFY(i == 0 ? line.startsWith(name + u": "_s) : line.startsWith(u' '));
        for (auto it = word.globalMatch(line); it.hasNext();) {
            const auto match = it.next();
            QVERIFY(match.capturedLength() <= 75);
            // Each word holds whole characters: it decodes on its own without a fault.
            const QByteArray bytes = QByteArray::fromBase64(match.captured(1).toLatin1());
            QStringDecoder decoder(QStringDecoder::Utf8);
            const QString decoded = decoder(bytes);
            QVERIFY(!decoder.hasError());
            QVERIFY(!decoded.contains(QChar::ReplacementCharacter));
        }
    }
}

void TestMimeMessage::lineBreaksInHeadersBecomeBlanks_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expectedLine");
    QTest::newRow("subject CR LF") << 0 << u"Hi\r\nBcc: victim@x.com"_s << u"Subject: Hi Bcc: victim@x.com"_s;
    QTest::newRow("from LF") << 1 << u"a@x.com\nBcc: victim@x.com"_s << u"From: a@x.com Bcc: victim@x.com"_s;
    QTest::newRow("reply-to CR") << 2 << u"r@x.com\rBcc: victim@x.com"_s << u"Reply-To: r@x.com Bcc: victim@x.com"_s;
    QTest::newRow("return-path two breaks") << 3 << u"b@x.com\n\nBcc: victim@x.com"_s
                                            << u"Return-Path: b@x.com  Bcc: victim@x.com"_s;
    QTest::newRow("subject line separator") << 0 << u"Hi\u2028Bcc: victim@x.com"_s
                                            << u"Subject: Hi Bcc: victim@x.com"_s;
}

void TestMimeMessage::lineBreaksInHeadersBecomeBlanks()
{
    QFETCH(int, field);
    QFETCH(QString, text);
    QFETCH(QString, expectedLine);
    QStringList fields{u"s"_s, u"f@x.com"_s, u"r@x.com"_s, u"b@x.com"_s};
    fields[field] = text;
    const QString message =
        MimeMessage::createMessageTo(u"p"_s, u"h"_s, fields[0], fields[1], u"to@x.com"_s, fields[2], fields[3]);
    const QString header = message.left(message.indexOf(u"\n\n"_s));
    QVERIFY2(header.split(u'\n').contains(expectedLine), qPrintable(header));
    QVERIFY(!message.contains(u"\nBcc:"_s));
    QVERIFY(!message.contains(u'\r'));
}

void TestMimeMessage::quotedPrintableForLongLines_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("html");
    QTest::addColumn<bool>("plainQuoted");
    QTest::addColumn<bool>("htmlQuoted");
    const QString line998(998, u'a');
    QTest::newRow("998 characters stay 8-bit") << line998 << u"<p>"_s + QString(995, u'b') << false << false;
    QTest::newRow("999 in the HTML: HTML part only") << u"short\n"_s << u"<p>"_s + QString(996, u'b') << false
                                                     << true;
    QTest::newRow("999 in the plain body") << u"x\n"_s + QString(999, u'a') + u"\ny"_s << u"<p>h</p>"_s << true
                                           << false;
    QTest::newRow("counted in UTF-8 bytes") << QString(500, u'\u00e9') << u""_s << true << false;
    QTest::newRow("CR LF is not part of the line") << line998 + u"\r\n"_s + line998 << u"<p>h</p>"_s << false
                                                   << false;
    QTest::newRow("both, with = and trailing blanks")
        << QString(600, u'=') + QString(600, u' ') + u"\nend "_s << u"<a href=\"x\">"_s + QString(2000, u'\u4e2d')
        << true << true;
}

void TestMimeMessage::quotedPrintableForLongLines()
{
    QFETCH(QString, plain);
    QFETCH(QString, html);
    QFETCH(bool, plainQuoted);
    QFETCH(bool, htmlQuoted);

    const QString message = MimeMessage::createMessageWithBoundary(u"B"_s, plain, html, u"s"_s, u"f@x.com"_s,
                                                                   std::nullopt, std::nullopt, std::nullopt);
    for (QString line : message.split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        QVERIFY(line.toUtf8().size() <= 998);
    }

    const Parsed parsed = parse(message, u"B"_s);
    const QString cte = u"Content-Transfer-Encoding: quoted-printable\n"_s;
    const auto content = [](const QString &text, bool quoted) {
        return quoted ? QString::fromUtf8(decodeQuotedPrintable(text.toLatin1())) : text;
    };
    QString expectedPlain = plain;
    if (plainQuoted)
        expectedPlain.replace(u"\r\n"_s, u"\n"_s);
    QCOMPARE(parsed.parts.first().first,
             u"Content-Type: text/plain; charset=\"UTF-8\"\n"_s + (plainQuoted ? cte : QString())
                 + u"Content-Disposition: inline\n"_s);
    QCOMPARE(content(parsed.parts.first().second, plainQuoted), expectedPlain);
    QCOMPARE(parsed.preamble, parsed.parts.first().second);
    if (html.trimmed().isEmpty()) {
        QCOMPARE(parsed.parts.size(), 1);
        return;
    }
    QCOMPARE(parsed.parts.at(1).first,
             u"Content-Type: text/html; charset=\"UTF-8\"\n"_s + (htmlQuoted ? cte : QString()));
    QCOMPARE(content(parsed.parts.at(1).second, htmlQuoted), html);
}

void TestMimeMessage::quotedPrintableText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("equals sign") << u"a=b"_s << QByteArray("a=3Db");
    QTest::newRow("blank before a line end") << u"a \nb\t\nc "_s << QByteArray("a=20\nb=09\nc=20");
    QTest::newRow("inner blanks literal") << u"a b\tc"_s << QByteArray("a b\tc");
    QTest::newRow("UTF-8 bytes") << u"\u00e9"_s << QByteArray("=C3=A9");
    QTest::newRow("CR LF and a lone CR") << u"a\r\nb\rc"_s << QByteArray("a\nb=0Dc");
    QTest::newRow("soft break keeps 76") << QString(80, u'x') << QByteArray(75, 'x') + "=\n" + QByteArray(5, 'x');
    QTest::newRow("escape not cut by a soft break")
        << QString(74, u'x') + u"="_s << QByteArray(74, 'x') + "=\n=3D";
}

void TestMimeMessage::quotedPrintableText()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(MimeMessage::encodeQuotedPrintable(text), expected);
}

void TestMimeMessage::requestValue()
{
    const QString value = MimeMessage::encodeMailTo(u"Gr\u00fc\u00dfe\n"_s, u"<p>\u00e9</p>"_s, u"Sch\u00f6n"_s,
                                                    u"f@x.com"_s, u"a@x.com"_s, u"r@x.com"_s, {});
    static const QRegularExpression allowed(u"^[A-Za-z0-9%]+$"_s);
    QVERIFY(allowed.match(value).hasMatch());
    QString base64 = value;
    base64.replace(u"%2B"_s, u"+"_s).replace(u"%2F"_s, u"/"_s).replace(u"%3D"_s, u"="_s);
    QVERIFY(!base64.contains(u'%'));
    const QString message = QString::fromUtf8(Base64::decodeBase64WithNewlines(base64, false));
    const QString boundary = message.section(u"boundary=\""_s, 1).section(u'"', 0, 0);
    QCOMPARE(message, MimeMessage::createMessageWithBoundary(boundary, u"Gr\u00fc\u00dfe\n"_s, u"<p>\u00e9</p>"_s,
                                                             u"Sch\u00f6n"_s, u"f@x.com"_s, u"a@x.com"_s,
                                                             u"r@x.com"_s, std::nullopt));
    QCOMPARE(MimeMessage::rawMessageData(u"\u00e9"_s), u"w6k="_s);
}

void TestMimeMessage::independentParserReadsWhatWasMeant()
{
    const QString python = pythonInterpreter();
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    struct Case
    {
        QString plain, html, subject, from, to, replyTo;
    };
    const QList<Case> cases{
        {u"Hallo J\u00f6rg,\nbis bald.\n"_s, u"<p>Hallo <b>J\u00f6rg</b></p>"_s,
         u"Sch\u00f6ne Gr\u00fc\u00dfe \U0001F600 aus K\u00f6ln, diesmal mit einer sehr langen Betreffzeile"_s,
         u"Zo\u00eb M\u00fcller <zoe@example.com>"_s, u"jane@example.com"_s, u"\"M\u00fcller, Zo\u00eb\" <r@x.com>"_s},
        {QString(1500, u'p'), u"<div>"_s + QString(3000, u'\u00e9') + u"</div>"_s, u"Plain subject"_s,
         u"Ann <a@x.com>"_s, u"b@x.com"_s, QString()},
    };
    QJsonArray messages;
    for (const Case &c : cases)
        messages.append(MimeMessage::createMessageTo(c.plain, c.html, c.subject, c.from, c.to, c.replyTo, {}));

    const char *reader = R"PY(
import sys, json, email
from email import policy
out = []
for text in json.load(sys.stdin):
    m = email.message_from_bytes(text.encode('utf-8'), policy=policy.default)
    parts = [p.get_content() for p in m.walk() if not p.is_multipart()]
    out.append({'subject': str(m['Subject']), 'from': str(m['From']), 'to': str(m['To']),
                'replyTo': str(m['Reply-To'] or ''), 'parts': parts,
                'defects': [str(d) for p in m.walk() for d in p.defects]})
print(json.dumps(out))
)PY";
    QProcess process;
    process.start(python, {u"-c"_s, QString::fromUtf8(reader)});
    QVERIFY(process.waitForStarted());
    process.write(QJsonDocument(messages).toJson(QJsonDocument::Compact));
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(30000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    const QJsonArray read = QJsonDocument::fromJson(process.readAllStandardOutput()).array();
    QCOMPARE(read.size(), cases.size());
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Case &c = cases.at(i);
        const QJsonObject r = read.at(i).toObject();
        QCOMPARE(r[u"subject"].toString(), c.subject);
        QCOMPARE(r[u"from"].toString(), c.from);
        QCOMPARE(r[u"to"].toString(), c.to);
        if (!c.replyTo.isEmpty())
            QCOMPARE(r[u"replyTo"].toString(), c.replyTo);
        QCOMPARE(r[u"defects"].toArray().size(), 0);
        const QJsonArray parts = r[u"parts"].toArray();
        QCOMPARE(parts.size(), 2);
        // A reader ends a part's text with the line feed before the delimiter.
        QCOMPARE(parts.at(0).toString(), c.plain + u'\n');
        QCOMPARE(parts.at(1).toString(), c.html);
    }
}

QTEST_GUILESS_MAIN(TestMimeMessage)
#include "tst_mimemessage.moc"
