// Merges a 20 KB HTML template with a ten-column record, as the send loop does for
// every recipient, and reports merges per second (target: at least 50,000).

#include "BriskoConnector.h"
#include "RecipientImport.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace brisko;
using namespace Qt::StringLiterals;

namespace {

const QString columns[] = {u"EMAIL"_s,   u"FIRSTNAME"_s, u"LASTNAME"_s, u"CITY"_s,    u"COMPANY"_s,
                           u"COUNTRY"_s, u"TITLE"_s,     u"CODE"_s,     u"COUPON"_s, u"SIGNUP_DATE"_s};

// About 20 KB of ordinary newsletter markup with every column's placeholder in it a few
// times, some underscores that are not placeholders, and a token of no column.
QString makeTemplate()
{
    QString html = u"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>News for __FIRSTNAME__</title>\n"
                   u"<style>.main_table { width: 600px; } .foot_note { color: #888; }</style></head>\n<body>\n"_s;
    int paragraph = 0;
    while (html.size() < 20 * 1024 - 400) {
        const QString &a = columns[paragraph % 10];
        const QString &b = columns[(paragraph * 7 + 3) % 10];
        html += QStringLiteral(
                    "<table class=\"main_table\"><tr><td><p>Dear __%1__, this is paragraph %3 of our "
                    "monthly letter. We thought you might like to hear about what is new in __%2__ and "
                    "around it; the offer below is valid until the end of the month.</p></td></tr></table>\n")
                    .arg(a, b)
                    .arg(paragraph);
        ++paragraph;
    }
    html += u"<p class=\"foot_note\">Sent to __EMAIL__. __UNSUBSCRIBE_LINK__</p>\n</body></html>\n"_s;
    return html;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    QByteArray list = QStringList(std::begin(columns), std::end(columns)).join(u',').toUtf8() + '\n';
    list += "ada@example.com,Ada,Lovelace,London,Analytical Engines,United Kingdom,Countess,AE-1815,"
            "SAVE20,1843-09-05\n";
    // Values that begin or end with an underscore could form new placeholders: they take
    // the key-by-key way.
    list += "bob@example.com,_Bob_,Babbage__Jr,London,_Difference Engines,United Kingdom,Mr,DE_,"
            "SAVE_30,1822-06-14\n";
    const RecipientImport::Result imported =
        RecipientImport::importText(list, RecipientImport::Separator::Comma);
    if (imported.records.size() != 2) {
        std::fprintf(stderr, "bench_merge: the records did not import\n");
        return 1;
    }
    const QString html = makeTemplate();
    std::printf("template: %lld characters, record: %lld columns\n", qint64(html.size()),
                qint64(imported.records.first()->count()));

    BriskoConnector connector;
    double plainRate = 0;
    for (int which = 0; which < 2; ++which) {
        const Recipient &record = *imported.records.at(which);
        qsizetype check = 0;
        int merges = 0;
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 2000) {
            for (int i = 0; i < 1000; ++i)
                check += connector.doGreps(html, record).size();
            merges += 1000;
        }
        const double rate = merges / (double(timer.nsecsElapsed()) / 1e9);
        if (which == 0)
            plainRate = rate;
        std::printf("merge, %s: %.0f merges per second (%.2f us each; checksum %lld)\n",
                    which == 0 ? "ordinary values" : "values edged with underscores", rate, 1e6 / rate, qint64(check));
    }
    std::printf("target: >= 50000 per second with ordinary values: %s\n", plainRate >= 50000 ? "met" : "NOT MET");
    return 0;
}
