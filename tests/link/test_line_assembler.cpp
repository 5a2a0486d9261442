// The reader's line assembly: which byte streams hand which sentences on.
#include <QTest>
#include <cstring>
#include <string>
#include <vector>

#include "LineAssembler.h"

using zorvik::link::LineAssembler;

namespace {

struct Outcome {
    std::vector<std::string> lines;
    bool overflow = false;
};

Outcome FeedAll(LineAssembler& a, const std::string& bytes) {
    Outcome out;
    for (unsigned char c : bytes) {
        const auto r = a.feed(c);
        if (r == LineAssembler::Result::Line) {
            out.lines.emplace_back(a.line());
            a.release_line();
        } else if (r == LineAssembler::Result::Overflow) {
            out.overflow = true;
        }
    }
    return out;
}

}  // namespace

class TestLineAssembler : public QObject {
    Q_OBJECT
  private slots:
    void handsOnSentences_data() {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QStringList>("expected");
        auto row = [](const char* name, const std::string& in, QStringList lines) {
            QTest::newRow(name) << QString::fromLatin1(in.data(), static_cast<qsizetype>(in.size()))
                                << lines;
        };
        row("crlf cut off", "$GPRMC,1*00\r\n", {"$GPRMC,1*00"});
        row("bytes before the first $ dropped", "xx\n\r\n,*$GPGGA*11\r\n", {"$GPGGA*11"});
        row("$ mid-sentence restarts", "$GPRMC,12$GPGSA,A*30\r\n", {"$GPGSA,A*30"});
        row("lf alone loses the last character", "$GPGSV*55\n", {"$GPGSV*5"});
        row("$ + crlf hands $ on", "$\r\n", {"$"});
        row("second lf after a sentence hands nothing", "$A*00\r\n\n\n", {"$A*00"});
        row("short line keeps its lf and goes on", "$\nAB\r\n", {"$\nAB"});
        row("two sentences back to back", "$A,1*01\r\n$B,2*02\r\n", {"$A,1*01", "$B,2*02"});
        row("no line end hands nothing", "$GPRMC,123", {});
        row("nul bytes inside are stored", std::string("$A\0B\r\n", 6), {"$A"});
    }
    void handsOnSentences() {
        QFETCH(QString, input);
        QFETCH(QStringList, expected);
        LineAssembler a;
        const QByteArray bytes = input.toLatin1();
        const Outcome out =
            FeedAll(a, std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        QStringList got;
        for (const auto& l : out.lines) got << QString::fromLatin1(l.c_str());
        QCOMPARE(got, expected);
        QVERIFY(!out.overflow);
    }

    // 498 characters plus CR LF fill the 500 places exactly; one more ends the reader.
    void lengthLimit() {
        const std::string body498 = "$" + std::string(497, 'A');
        {
            LineAssembler a;
            const Outcome out = FeedAll(a, body498 + "\r\n");
            QCOMPARE(out.lines.size(), std::size_t{1});
            QCOMPARE(out.lines[0], body498);
            QVERIFY(!out.overflow);
        }
        {
            LineAssembler a;
            const Outcome out = FeedAll(a, body498 + "B\r\n");
            QVERIFY(out.overflow);
            QVERIFY(out.lines.empty());
        }
    }

    // After an over-long line the state starts clean: the line's tail is not
    // shown as a sentence, the next "$" starts the next one.
    void overflowLeavesCleanState() {
        LineAssembler a;
        Outcome out = FeedAll(a, "$" + std::string(600, 'x'));
        QVERIFY(out.overflow);
        QVERIFY(!a.started());
        QCOMPARE(a.length(), 0);
        out = FeedAll(a, std::string(99, 'x') + "\r\n$GPRMC*4B\r\n");
        QCOMPARE(out.lines.size(), std::size_t{1});
        QCOMPARE(out.lines[0], std::string("$GPRMC*4B"));
        QVERIFY(!out.overflow);
    }

    // The parser may look at ten characters even of a short sentence: the
    // buffer behind the sentence is zero, also after a longer earlier line.
    void zeroFilledBehindSentence() {
        LineAssembler a;
        FeedAll(a, "$GPGSV,3,1,12,01,02,03,04*70\r\n");
        for (unsigned char c : std::string("$\r\n")) {
            if (a.feed(c) == LineAssembler::Result::Line) break;
        }
        const char* buf = a.line();
        QCOMPARE(buf[0], '$');
        for (int i = 1; i < LineAssembler::kCapacity + 1; ++i) QCOMPARE(buf[i], '\0');
    }

    // Arbitrary bytes never overrun the buffer and every line handed on starts
    // with '$' and fits the capacity.
    void randomBytesStayInBounds() {
        LineAssembler a;
        unsigned state = 12345;
        int lines = 0;
        for (int i = 0; i < 200000; ++i) {
            state = state * 1103515245u + 12345u;
            unsigned char c = static_cast<unsigned char>(state >> 16);
            if ((state >> 8) % 50 == 0) c = '$';
            if ((state >> 9) % 40 == 0) c = '\n';
            const auto r = a.feed(c);
            QVERIFY(a.length() >= 0 && a.length() <= LineAssembler::kCapacity);
            if (r == LineAssembler::Result::Line) {
                ++lines;
                QCOMPARE(a.line()[0], '$');
                QVERIFY(std::strlen(a.line()) <= LineAssembler::kCapacity - 2);
                a.release_line();
            }
        }
        QVERIFY(lines > 100);
    }
};

QTEST_APPLESS_MAIN(TestLineAssembler)
#include "test_line_assembler.moc"
