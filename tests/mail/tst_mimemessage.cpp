// The raw message: layout, the To line, encoded-words, quoted-printable for over-long lines,
// the header guard, the unsubscribe headers, attachments and the measured size.

#include "MimeMessage.h"
#include "SmtpTestServer.h"

#include <QCryptographicHash>
#include <QTemporaryDir>

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

    void unsubscribeParse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("https");
        QTest::addColumn<QString>("mailto");
        QTest::addColumn<QString>("error"); // a word the refusal holds; empty when accepted
        QTest::newRow("blank") << u"  "_s << QString() << QString() << QString();
        QTest::newRow("https with placeholder")
            << u"https://example.com/u?e=__EMAIL__"_s << u"https://example.com/u?e=__EMAIL__"_s << QString() << QString();
        QTest::newRow("both, mailto first, in brackets")
            << u"<mailto:off@example.com?subject=stop>, <https://example.com/u/__ID__>"_s
            << u"https://example.com/u/__ID__"_s << u"mailto:off@example.com?subject=stop"_s << QString();
        QTest::newRow("bare address") << u"off@example.com"_s << QString() << u"mailto:off@example.com"_s << QString();
        QTest::newRow("comma inside the URL stays")
            << u"https://example.com/u?a=1,2,mailto:x@y.z"_s << u"https://example.com/u?a=1,2"_s
            << u"mailto:x@y.z"_s << QString();
        QTest::newRow("blank and non-ASCII in the URL are encoded")
            << u"https://example.com/ab mé?x=__FIRST NAME__"_s
            << u"https://example.com/ab%20m%C3%A9?x=__FIRST%20NAME__"_s << QString() << QString();
        QTest::newRow("http refused") << u"http://example.com/u"_s << QString() << QString() << u"https"_s;
        QTest::newRow("no host") << u"https:///u"_s << QString() << QString() << u"web address"_s;
        QTest::newRow("two https") << u"https://a.com, https://b.com"_s << QString() << QString() << u"two"_s;
        QTest::newRow("mailto without address") << u"mailto:nobody"_s << QString() << QString() << u"mailto"_s;
        QTest::newRow("other scheme") << u"ftp://x.com"_s << QString() << QString() << u"neither"_s;
    }

    void unsubscribeParse()
    {
        QFETCH(QString, text);
        QFETCH(QString, https);
        QFETCH(QString, mailto);
        QFETCH(QString, error);
        const MimeMessage::UnsubscribeParse parsed = MimeMessage::parseUnsubscribe(text);
        if (!error.isEmpty()) {
            QVERIFY(!parsed.targets);
            QVERIFY2(parsed.error.contains(error), qPrintable(parsed.error));
            return;
        }
        QVERIFY2(parsed.error.isEmpty(), qPrintable(parsed.error));
        if (https.isNull() && mailto.isNull()) {
            QVERIFY(!parsed.targets);
            return;
        }
        QVERIFY(parsed.targets);
        QCOMPARE(parsed.targets->https, opt(https));
        QCOMPARE(parsed.targets->mailto, opt(mailto));
    }

    // A merged value can never end the URL, add a target or a header: it goes in percent-encoded.
    void unsubscribeMergeIsEncoded()
    {
        const auto targets = MimeMessage::parseUnsubscribe(u"https://example.com/u?e=__EMAIL__&n=__NAME__, "
                                                           "mailto:off@example.com?subject=__EMAIL__"_s).targets;
        QVERIFY(targets);
        const MimeMessage::ListUnsubscribe merged = MimeMessage::mergeUnsubscribe(
            *targets, {{u"EMAIL"_s, u"a+b@x.org"_s}, {u"NAME"_s, u"Zoë>, <https://evil\r\nBcc: x@y"_s}});
        QCOMPARE(merged.https, std::optional<QString>(u"https://example.com/u?e=a%2Bb%40x.org&n=Zo%C3%AB%3E%2C%20%3Chttps%3A%2F%2Fevil%0D%0ABcc%3A%20x%40y"_s));
        QCOMPARE(merged.mailto, std::optional<QString>(u"mailto:off@example.com?subject=a%2Bb%40x.org"_s));
    }

    // Messages read back by Python's mail reader: the unsubscribe headers per recipient (the
    // one-click header only with https), multipart/mixed around the alternative part, and the
    // files byte for byte, a non-ASCII name and a 5 MB binary among them. The measured size is
    // the size of the very message.
    void messagesAMailReaderReads()
    {
        QByteArray binary(5 * 1024 * 1024 + 1, Qt::Uninitialized);
        quint32 x = 88172645u;
        for (char &c : binary) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            c = char(x);
        }
        const AttachmentList files{
            {u"Grüße \"2026\".pdf"_s, u"application/pdf"_s, "%PDF-1.4 tiny"_ba},
            {u"a-very-long-file-name-that-needs-more-than-one-section-of-the-parameter.bin"_s,
             u"application/octet-stream"_s, binary},
            {u"evil\r\nBcc: x@y.txt"_s, u"text/plain\r\nBcc: x@y"_s, "hi"_ba}};
        const auto both = MimeMessage::parseUnsubscribe(u"https://example.com/u?e=__EMAIL__, mailto:off@example.com"_s).targets;
        const auto mailOnly = MimeMessage::parseUnsubscribe(u"mailto:off@example.com?subject=__EMAIL__"_s).targets;
        QVERIFY(both && mailOnly);
        QTemporaryDir dir;
        QStringList paths;
        const QStringList to{u"ann@example.com"_s, u"bob@example.com"_s, u"cy@example.com"_s};
        for (int i = 0; i < 3; ++i) {
            MimeMessage::Extras extras;
            if (i < 2)
                extras.unsubscribe = MimeMessage::mergeUnsubscribe(i == 0 ? *both : *mailOnly, {{u"EMAIL"_s, to.at(i)}});
            if (i != 1)
                extras.attachments = files;
            const QString boundary = MimeMessage::createBoundary();
            const QString message = MimeMessage::createMessageWithBoundary(
                boundary, u"Hello \u00e9"_s, u"<p>Hi</p>"_s, u"S"_s, u"a@x.com"_s, to.at(i), std::nullopt,
                std::nullopt, extras);
            QCOMPARE(MimeMessage::rawSize(boundary, u"Hello \u00e9"_s, u"<p>Hi</p>"_s, u"S"_s, u"a@x.com"_s,
                                          to.at(i), std::nullopt, std::nullopt, extras),
                     qint64(message.toUtf8().size()));
            QVERIFY(!message.contains(u"\r"_s) && !message.contains(u"\nBcc:"_s));
            paths.append(dir.filePath(QString::number(i) + u".eml"_s));
            QFile file(paths.last());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(message.toUtf8());
        }
        const QList<QJsonObject> parsed = SmtpTestServer::parse(paths);
        if (parsed.isEmpty())
            QSKIP("python3 is not available to read the messages back");
        QCOMPARE(parsed.size(), 3);
        for (const QJsonObject &m : parsed)
            QCOMPARE(m.value(u"defects").toInt(), 0);

        QCOMPARE(parsed[0].value(u"list_unsubscribe").toString(),
                 u"<https://example.com/u?e=ann%40example.com>, <mailto:off@example.com>"_s);
        QCOMPARE(parsed[0].value(u"list_unsubscribe_post").toString(), u"List-Unsubscribe=One-Click"_s);
        QCOMPARE(parsed[1].value(u"list_unsubscribe").toString(),
                 u"<mailto:off@example.com?subject=bob%40example.com>"_s);
        QVERIFY(parsed[1].value(u"list_unsubscribe_post").isNull());
        QVERIFY(parsed[2].value(u"list_unsubscribe").isNull());

        QCOMPARE(parsed[0].value(u"structure").toString(),
                 u"multipart/mixed(multipart/alternative(text/plain,text/html),application/pdf,"
                 "application/octet-stream,application/octet-stream)"_s);
        QCOMPARE(parsed[1].value(u"structure").toString(), u"multipart/alternative(text/plain,text/html)"_s);
        QCOMPARE(parsed[0].value(u"text").toString().trimmed(), u"Hello \u00e9"_s);
        QCOMPARE(parsed[0].value(u"html").toString().trimmed(), u"<p>Hi</p>"_s);
        const QJsonArray attached = parsed[2].value(u"attachments").toArray();
        QCOMPARE(attached.size(), 3);
        const QStringList names{files[0].name, files[1].name, u"evil Bcc: x@y.txt"_s};
        for (int i = 0; i < 3; ++i) {
            const QJsonObject a = attached.at(i).toObject();
            QCOMPARE(a.value(u"name").toString(), names.at(i));
            QCOMPARE(a.value(u"size").toInteger(), files[i].data.size());
            QCOMPARE(a.value(u"sha256").toString(),
                     QString::fromLatin1(QCryptographicHash::hash(files[i].data, QCryptographicHash::Sha256).toHex()));
        }
        QCOMPARE(attached.at(0).toObject().value(u"type").toString(), u"application/pdf"_s);
    }

    void base64LinesAreShort()
    {
        const QString part = MimeMessage::attachmentPart({u"x.bin"_s, u"application/octet-stream"_s, QByteArray(1000, 'z')});
        const QStringList body = part.section(u"\n\n"_s, 1).split(u'\n');
        QCOMPARE(body.first().size(), 76);
        QVERIFY(std::all_of(body.cbegin(), body.cend(), [](const QString &l) { return l.size() <= 76 && !l.isEmpty(); }));
        QCOMPARE(QByteArray::fromBase64(body.join(QString()).toLatin1()), QByteArray(1000, 'z'));
    }
};

QTEST_GUILESS_MAIN(TestMimeMessage)
#include "tst_mimemessage.moc"
