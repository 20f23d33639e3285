// The raw message: layout, the To line, encoded-words, quoted-printable for over-long lines
// and the header guard.

#include "MimeMessage.h"

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

// The message for boundary "B": the plain body as preamble and first part, then any HTML part.
QString laidOut(const QString &headers, const QString &plain, const QString &html)
{
    return headers + u"MIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"B\"\n\n"_s + plain +
           u"\n\n--B\nContent-Type: text/plain; charset=\"UTF-8\"\nContent-Disposition: inline\n\n"_s +
           plain +
           (html.isNull() ? QString() : u"\n\n--B\nContent-Type: text/html; charset=\"UTF-8\"\n\n"_s + html) +
           u"\n--B--\n\n"_s;
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
        QVERIFY(!boundary.isEmpty());
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
    }

    void encodedWords_data()
    {
        using K = MimeMessage::HeaderKind;
        QTest::addColumn<QString>("name");
        QTest::addColumn<K>("kind");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("exact"); // when not empty: the exact lines
        const QString longAscii = QString(200, u'a');
        QTest::newRow("ASCII subject kept exactly, even long")
            << u"Subject"_s << K::Text << longAscii << u"Subject: "_s + longAscii + u'\n';
        QTest::newRow("short subject")
            << u"Subject"_s << K::Text << u"Gr\u00fc\u00dfe"_s << u"Subject: =?UTF-8?B?R3LDvMOfZQ==?=\n"_s;
        QTest::newRow("display name encoded, address as typed")
            << u"From"_s << K::Addresses << u"J\u00f6rg M\u00fcller <jm@example.com>"_s
            << u"From: =?UTF-8?B?SsO2cmcgTcO8bGxlcg==?= <jm@example.com>\n"_s;
        QTest::newRow("surrogate pairs stay whole")
            << u"Subject"_s << K::Text << u"\U0001F600"_s.repeated(60) << QString();
        QTest::newRow("address list, quoted name, ASCII names kept")
            << u"Reply-To"_s << K::Addresses << u"\"M\u00fcller, Zo\u00eb\" <z@x.com>, Bob <b@x.com>"_s
            << QString();
        QTest::newRow("long display name folded before the address")
            << u"Return-Path"_s << K::Addresses
            << QString(90, u'\u00e9') + u" <very.long.address.of.someone@subdomain.example.com>"_s
            << QString();
    }

    void encodedWords()
    {
        QFETCH(QString, name);
        QFETCH(MimeMessage::HeaderKind, kind);
        QFETCH(QString, value);
        QFETCH(QString, exact);
        const QString lines = MimeMessage::headerLines(name, value, kind);
        if (!exact.isEmpty())
            QCOMPARE(lines, exact);
        else if (value.size() > 100)
            QVERIFY(lines.count(u'\n') > 1);
        const QStringList parts = lines.chopped(1).split(u'\n');
        for (qsizetype i = 0; i < parts.size(); ++i) {
            QVERIFY(!exact.isEmpty() || parts.at(i).size() <= 78);
            QVERIFY(i == 0 ? parts.at(i).startsWith(name + u": "_s) : parts.at(i).startsWith(u' '));
        }
        // A reader unfolds the lines, drops the blanks between two words and decodes each word on
        // its own (whole characters, at most 75 long): it gets the value back, unquoted.
        static const QRegularExpression word(uR"(=\?UTF-8\?B\?([A-Za-z0-9+/=]*)\?=)"_s);
        static const QRegularExpression gap(uR"((?<=\?=) +(?==\?))"_s);
        const QString unfolded = parts.join(QString()).replace(gap, QString());
        QString read;
        qsizetype at = 0;
        for (auto it = word.globalMatch(unfolded); it.hasNext();) {
            const auto match = it.next();
            QVERIFY(match.capturedLength() <= 75);
            QStringDecoder decoder(QStringDecoder::Utf8);
            const QString decoded = decoder(QByteArray::fromBase64(match.captured(1).toLatin1()));
            QVERIFY(!decoder.hasError() && !decoded.contains(QChar::ReplacementCharacter));
            read += unfolded.mid(at, match.capturedStart() - at) + decoded;
            at = match.capturedEnd();
        }
        QCOMPARE(read + unfolded.mid(at), name + u": "_s + QString(value).remove(u'"'));
    }

    // Every kind of line break, in every header field we fill, becomes a blank.
    void lineBreaksInHeadersBecomeBlanks()
    {
        const QString message = MimeMessage::createMessageTo(
            u"p"_s, u"h"_s, u"Hi\u2028Bcc: victim@x.com"_s, u"a@x.com\r\nBcc: victim@x.com"_s, u"to@x.com"_s,
            u"r@x.com\rBcc: victim@x.com"_s, u"b@x.com\n\nBcc: victim@x.com"_s);
        const QStringList header = message.left(message.indexOf(u"\n\n"_s)).split(u'\n');
        for (const QString &line :
             {u"Subject: Hi Bcc: victim@x.com"_s, u"From: a@x.com Bcc: victim@x.com"_s,
              u"Reply-To: r@x.com Bcc: victim@x.com"_s, u"Return-Path: b@x.com  Bcc: victim@x.com"_s})
            QVERIFY(header.contains(line));
        QVERIFY(!message.contains(u"\nBcc:"_s));
        QVERIFY(!message.contains(u'\r'));
    }

    void longLines_data()
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
    }

    // Every line fits 998 bytes; an over-long body goes quoted-printable.
    void longLines()
    {
        QFETCH(QString, plain);
        QFETCH(QString, html);
        QFETCH(bool, plainQuoted);
        QFETCH(bool, htmlQuoted);
        const QString message = MimeMessage::createMessageTo(plain, html, u"Gr\u00fc\u00dfe "_s.repeated(40),
                                                             u"f@x.com"_s, u"jane@example.com"_s, {}, {});
        for (const QString &line : message.split(u'\n')) // CR LF counts as one line end
            QVERIFY(line.chopped(line.endsWith(u'\r') ? 1 : 0).toUtf8().size() <= 998);
        const QString cte = u"Content-Transfer-Encoding: quoted-printable\n"_s;
        QVERIFY(message.contains(u"Content-Type: text/plain; charset=\"UTF-8\"\n"_s +
                                 (plainQuoted ? cte : QString()) + u"Content-Disposition: inline\n\n"_s));
        QVERIFY(message.contains(u"Content-Type: text/html; charset=\"UTF-8\"\n"_s +
                                 (htmlQuoted ? cte : QString()) + u'\n'));
    }

    void quotedPrintableText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("equals sign") << u"a=b"_s << QByteArray("a=3Db");
        QTest::newRow("blank before a line end") << u"a \nb\t\nc "_s << QByteArray("a=20\nb=09\nc=20");
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
