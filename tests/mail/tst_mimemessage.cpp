// The raw message: the multipart layout, the To line, encoded-words for non-ASCII header
// text, quoted-printable for over-long lines, the header guard, and Python's mail parser
// reading what was meant.

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

// The message for boundary "B": the header lines given, the plain body as preamble and
// first part, then the HTML part when there is one.
QString laidOut(const QString &headers, const QString &plain, const QString &html)
{
    return headers + u"MIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"B\"\n\n"_s + plain +
           u"\n\n--B\nContent-Type: text/plain; charset=\"UTF-8\"\nContent-Disposition: inline\n\n"_s +
           plain +
           (html.isNull() ? QString() : u"\n\n--B\nContent-Type: text/html; charset=\"UTF-8\"\n\n"_s + html) +
           u"\n--B--\n\n"_s;
}

// What Python's mail parser reads: each address or subject header decoded as a reader
// shows it, the text of each part, the defects found.
QJsonObject readByPython(const QString &message)
{
    const char *reader = R"PY(
import sys, json, email
from email import policy
from email.header import decode_header, make_header
raw = sys.stdin.buffer.read()
m, h = email.message_from_bytes(raw, policy=policy.default), email.message_from_bytes(raw)
names = ('Subject', 'From', 'To', 'Reply-To', 'Return-Path')
out = {n: str(make_header(decode_header(h[n]))) for n in names if h[n]}
out['parts'] = [p.get_content() for p in m.walk() if not p.is_multipart()]
out['defects'] = [str(d) for p in m.walk() for d in p.defects]
print(json.dumps(out))
)PY";
    QProcess process;
    process.start(pythonInterpreter(), {u"-c"_s, QString::fromUtf8(reader)});
    process.write(message.toUtf8());
    process.closeWriteChannel();
    process.waitForFinished(30000);
    return QJsonDocument::fromJson(process.readAllStandardOutput()).object();
}

} // namespace

class TestMimeMessage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layout_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("replyTo");
        QTest::addColumn<QString>("returnPath");
        QTest::addColumn<QString>("expected");
        QTest::newRow("every header")
            << u"Hello\nWorld"_s << u"<p>Hi</p>"_s << u"Ann <a@x.com>"_s << u"r@x.com"_s << u"b@x.com"_s
            << laidOut(u"From: Ann <a@x.com>\nReply-To: r@x.com\nReturn-Path: b@x.com\nSubject: S\n"_s,
                       u"Hello\nWorld"_s, u"<p>Hi</p>"_s);
        QTest::newRow("empty Reply-To and Return-Path, empty From")
            << u"x"_s << u"<i>y</i>"_s << u""_s << u""_s << u""_s
            << laidOut(u"From: \nSubject: S\n"_s, u"x"_s, u"<i>y</i>"_s);
        QTest::newRow("no Reply-To, no Return-Path")
            << u"x"_s << u"<i>y</i>"_s << u"a@x.com"_s << QString() << QString()
            << laidOut(u"From: a@x.com\nSubject: S\n"_s, u"x"_s, u"<i>y</i>"_s);
        QTest::newRow("blank HTML: plain part only")
            << u"x"_s << u"  \n\t\r\n "_s << u"a@x.com"_s << QString() << QString()
            << laidOut(u"From: a@x.com\nSubject: S\n"_s, u"x"_s, QString());
        QTest::newRow("HTML kept untrimmed, raw UTF-8 bodies")
            << u"Gr\u00fc\u00dfe"_s << u"\n <b>\u00e9</b> \n"_s << u"a@x.com"_s << QString() << QString()
            << laidOut(u"From: a@x.com\nSubject: S\n"_s, u"Gr\u00fc\u00dfe"_s, u"\n <b>\u00e9</b> \n"_s);
    }

    // The six-argument form, its boundary declared once and used for every delimiter.
    void layout()
    {
        QFETCH(QString, plain);
        QFETCH(QString, html);
        QFETCH(QString, from);
        QFETCH(QString, replyTo);
        QFETCH(QString, returnPath);
        QFETCH(QString, expected);
        QString message =
            MimeMessage::createMessage(plain, html, u"S"_s, from, opt(replyTo), opt(returnPath));
        static const QRegularExpression declared(uR"re(boundary="(==boundary-?\d+-?\d+-?\d+==)")re"_s);
        const QString boundary = declared.match(message).captured(1);
        QVERIFY2(!boundary.isEmpty(), qPrintable(message));
        QCOMPARE(message.replace(boundary, u"B"_s), expected);
    }

    void toLineIsTheSecondLine()
    {
        QStringList lines =
            MimeMessage::createMessageWithBoundary(u"B"_s, u"p"_s, u"h"_s, u"s"_s, u"f@x.com"_s,
                                                   u"jane+news@example.com"_s, u"r@x.com"_s, {})
                .split(u'\n');
        QCOMPARE(lines.at(1), u"To: jane+news@example.com"_s);
        lines.removeAt(1);
        QCOMPARE(lines.join(u'\n'),
                 MimeMessage::createMessageWithBoundary(u"B"_s, u"p"_s, u"h"_s, u"s"_s, u"f@x.com"_s,
                                                        std::nullopt, u"r@x.com"_s, {}));
        const QString sent =
            MimeMessage::createMessageTo(u"p"_s, u"h"_s, u"s"_s, u"f@x.com"_s, u"a@x.com"_s, {}, {});
        QCOMPARE(sent.section(u'\n', 0, 1), u"From: f@x.com\nTo: a@x.com"_s);
        QVERIFY(MimeMessage::createBoundary() != MimeMessage::createBoundary());
        QCOMPARE(MimeMessage::rawMessageData(u"\u00e9"_s), u"w6k="_s); // the UTF-8 bytes
    }

    void encodedWords_data()
    {
        using K = MimeMessage::HeaderKind;
        QTest::addColumn<QString>("name");
        QTest::addColumn<K>("kind");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("exact");  // when not empty: the exact lines
        QTest::addColumn<QString>("readAs"); // what a reader decodes when not the value
        const QString longAscii = QString(200, u'a');
        QTest::newRow("ASCII subject kept exactly, even long")
            << u"Subject"_s << K::Text << longAscii << u"Subject: "_s + longAscii + u'\n' << QString();
        QTest::newRow("ASCII address kept exactly") << u"From"_s << K::Addresses << u"\"Doe, J\" <j@x.com>"_s
                                                    << u"From: \"Doe, J\" <j@x.com>\n"_s << QString();
        QTest::newRow("short subject") << u"Subject"_s << K::Text << u"Gr\u00fc\u00dfe"_s
                                       << u"Subject: =?UTF-8?B?R3LDvMOfZQ==?=\n"_s << QString();
        QTest::newRow("display name encoded, address as typed")
            << u"From"_s << K::Addresses << u"J\u00f6rg M\u00fcller <jm@example.com>"_s
            << u"From: =?UTF-8?B?SsO2cmcgTcO8bGxlcg==?= <jm@example.com>\n"_s << QString();
        QTest::newRow("long subject folded")
            << u"Subject"_s << K::Text << u"Sch\u00f6ne Gr\u00fc\u00dfe aus K\u00f6ln "_s.repeated(12)
            << QString() << QString();
        QTest::newRow("surrogate pairs stay whole")
            << u"Subject"_s << K::Text << u"\U0001F600"_s.repeated(60) << QString() << QString();
        QTest::newRow("quoted display name unquoted")
            << u"Reply-To"_s << K::Addresses << u"\"M\u00fcller, J\u00f6rg\" <jm@example.com>"_s << QString()
            << u"M\u00fcller, J\u00f6rg <jm@example.com>"_s;
        QTest::newRow("address list, ASCII names kept")
            << u"Reply-To"_s << K::Addresses << u"Zo\u00eb <z@x.com>, Bob <b@x.com>"_s << QString()
            << QString();
        QTest::newRow("long display name folded before the address")
            << u"Return-Path"_s << K::Addresses
            << QString(90, u'\u00e9') + u" <very.long.address.of.someone@subdomain.example.com>"_s
            << QString() << QString();
    }

    void encodedWords()
    {
        QFETCH(QString, name);
        QFETCH(MimeMessage::HeaderKind, kind);
        QFETCH(QString, value);
        QFETCH(QString, exact);
        QFETCH(QString, readAs);
        const QString lines = MimeMessage::headerLines(name, value, kind);
        if (!exact.isEmpty())
            QCOMPARE(lines, exact);
        else if (value.size() > 100)
            QVERIFY(lines.count(u'\n') > 1);
        static const QRegularExpression word(uR"(=\?UTF-8\?B\?([A-Za-z0-9+/=]*)\?=)"_s);
        const QStringList parts = lines.chopped(1).split(u'\n');
        for (qsizetype i = 0; i < parts.size(); ++i) {
            const QString &line = parts.at(i);
            QVERIFY2(!exact.isEmpty() || line.size() <= 78, qPrintable(line));
            QVERIFY(i == 0 ? line.startsWith(name + u": "_s) : line.startsWith(u' '));
            for (auto it = word.globalMatch(line); it.hasNext();) {
                const auto match = it.next();
                QVERIFY(match.capturedLength() <= 75);
                // Each word holds whole characters: it decodes on its own without a fault.
                QStringDecoder decoder(QStringDecoder::Utf8);
                const QString decoded = decoder(QByteArray::fromBase64(match.captured(1).toLatin1()));
                QVERIFY(!decoder.hasError() && !decoded.contains(QChar::ReplacementCharacter));
            }
        }
        if (pythonInterpreter().isEmpty())
            QSKIP("python3 is not installed");
        QCOMPARE(readByPython(lines)[name].toString(), readAs.isNull() ? value : readAs);
    }

    void lineBreaksInHeadersBecomeBlanks_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expectedLine");
        QTest::newRow("subject CR LF")
            << 0 << u"Hi\r\nBcc: victim@x.com"_s << u"Subject: Hi Bcc: victim@x.com"_s;
        QTest::newRow("from LF") << 1 << u"a@x.com\nBcc: victim@x.com"_s
                                 << u"From: a@x.com Bcc: victim@x.com"_s;
        QTest::newRow("reply-to CR") << 2 << u"r@x.com\rBcc: victim@x.com"_s
                                     << u"Reply-To: r@x.com Bcc: victim@x.com"_s;
        QTest::newRow("return-path two breaks")
            << 3 << u"b@x.com\n\nBcc: victim@x.com"_s << u"Return-Path: b@x.com  Bcc: victim@x.com"_s;
        QTest::newRow("subject line separator")
            << 0 << u"Hi\u2028Bcc: victim@x.com"_s << u"Subject: Hi Bcc: victim@x.com"_s;
    }

    void lineBreaksInHeadersBecomeBlanks()
    {
        QFETCH(int, field);
        QFETCH(QString, text);
        QFETCH(QString, expectedLine);
        QStringList fields{u"s"_s, u"f@x.com"_s, u"r@x.com"_s, u"b@x.com"_s};
        fields[field] = text;
        const QString message = MimeMessage::createMessageTo(u"p"_s, u"h"_s, fields[0], fields[1],
                                                             u"to@x.com"_s, fields[2], fields[3]);
        const QString header = message.left(message.indexOf(u"\n\n"_s));
        QVERIFY2(header.split(u'\n').contains(expectedLine), qPrintable(header));
        QVERIFY(!message.contains(u"\nBcc:"_s));
        QVERIFY(!message.contains(u'\r'));
    }

    void longLinesAndWhatAReaderSees_data()
    {
        QTest::addColumn<QString>("plain");
        QTest::addColumn<QString>("html");
        QTest::addColumn<bool>("plainQuoted");
        QTest::addColumn<bool>("htmlQuoted");
        const QString line998(998, u'a');
        QTest::newRow("998 characters stay 8-bit")
            << line998 << u"<p>"_s + QString(995, u'b') << false << false;
        QTest::newRow("999 in the HTML: HTML part only")
            << u"short\n"_s << u"<p>"_s + QString(996, u'b') << false << true;
        QTest::newRow("999 in the plain body")
            << u"x\n"_s + QString(999, u'a') + u"\ny"_s << u"<p>h</p>"_s << true << false;
        QTest::newRow("counted in UTF-8 bytes") << QString(500, u'\u00e9') << u"<p>h</p>"_s << true << false;
        QTest::newRow("CR LF is not part of the line")
            << line998 + u"\r\n"_s + line998 << u"<p>h</p>"_s << false << false;
        QTest::newRow("both, with = and trailing blanks")
            << QString(600, u'=') + QString(600, u' ') + u"\nend "_s
            << u"<a href=\"x\">"_s + QString(2000, u'\u4e2d') << true << true;
    }

    // Every line fits 998 bytes, the over-long body says quoted-printable, and a reader gets
    // back the headers and bodies as they were meant.
    void longLinesAndWhatAReaderSees()
    {
        QFETCH(QString, plain);
        QFETCH(QString, html);
        QFETCH(bool, plainQuoted);
        QFETCH(bool, htmlQuoted);
        // Headers a reader must unfold and decode: a long subject, a long display name, a list
        // with a quoted name and an ASCII one.
        const QString subject = u"Sch\u00f6ne Gr\u00fc\u00dfe \U0001F600 aus K\u00f6ln "_s.repeated(4);
        const QString from =
            QString(70, u'\u00e9') + u" <very.long.address.of.someone@subdomain.example.com>"_s;
        const QString replyTo = u"\"M\u00fcller, Zo\u00eb\" <r@x.com>, Bob <b@x.com>"_s;
        const QString message =
            MimeMessage::createMessageTo(plain, html, subject, from, u"jane@example.com"_s, replyTo, {});
        for (const QString &line : message.split(u'\n')) // CR LF counts as one line end
            QVERIFY(line.chopped(line.endsWith(u'\r') ? 1 : 0).toUtf8().size() <= 998);
        const QString cte = u"Content-Transfer-Encoding: quoted-printable\n"_s;
        QVERIFY(message.contains(u"Content-Type: text/plain; charset=\"UTF-8\"\n"_s +
                                 (plainQuoted ? cte : QString()) + u"Content-Disposition: inline\n\n"_s));
        QVERIFY(message.contains(u"Content-Type: text/html; charset=\"UTF-8\"\n"_s +
                                 (htmlQuoted ? cte : QString()) + u'\n'));

        if (pythonInterpreter().isEmpty())
            QSKIP("python3 is not installed");
        const QJsonObject read = readByPython(message);
        QCOMPARE(read[u"Subject"].toString(), subject);
        QCOMPARE(read[u"From"].toString(), from);
        QCOMPARE(read[u"To"].toString(), u"jane@example.com"_s);
        QCOMPARE(read[u"Reply-To"].toString(), u"M\u00fcller, Zo\u00eb <r@x.com>, Bob <b@x.com>"_s);
        QCOMPARE(read[u"defects"].toArray(), QJsonArray());
        // A reader ends a part's text with the line feed before the delimiter; quoted-printable
        // writes CR LF as a line feed.
        const QString plainRead = plainQuoted ? QString(plain).replace(u"\r\n"_s, u"\n"_s) : plain;
        QCOMPARE(read[u"parts"].toArray(), (QJsonArray{plainRead + u'\n', html}));
    }

    void quotedPrintableText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("equals sign") << u"a=b"_s << QByteArray("a=3Db");
        QTest::newRow("blank before a line end") << u"a \nb\t\nc "_s << QByteArray("a=20\nb=09\nc=20");
        QTest::newRow("inner blanks literal") << u"a b\tc"_s << QByteArray("a b\tc");
        QTest::newRow("UTF-8 bytes") << u"\u00e9"_s << QByteArray("=C3=A9");
        QTest::newRow("CR LF and a lone CR") << u"a\r\nb\rc"_s << QByteArray("a\nb=0Dc");
        QTest::newRow("soft break keeps 76")
            << QString(80, u'x') << QByteArray(75, 'x') + "=\n" + QByteArray(5, 'x');
        QTest::newRow("escape not cut by a soft break")
            << QString(74, u'x') + u"="_s << QByteArray(74, 'x') + "=\n=3D";
    }

    void quotedPrintableText()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, expected);
        QCOMPARE(MimeMessage::encodeQuotedPrintable(text), expected);
    }
};

QTEST_GUILESS_MAIN(TestMimeMessage)
#include "tst_mimemessage.moc"
