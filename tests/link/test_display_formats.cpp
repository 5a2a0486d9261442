// The live view's number readings and text formats.
#include <QTest>
#include <cmath>
#include <limits>

#include "DisplayFormats.h"

using namespace DisplayFormats;

namespace {
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
}  // namespace

class TestDisplayFormats : public QObject {
    Q_OBJECT
  private slots:
    void oneDecimal_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("rounds down") << 12.34 << "12.3";
        QTest::newRow("rounds up to a whole") << 0.96 << "1.0";
        QTest::newRow("four significant digits") << 1234.56 << "1235.0";
        QTest::newRow("five digits: exponent form") << 12345.6 << "1.235E4";
        QTest::newRow("all other digits zero") << 99999.0 << "1E5";
        QTest::newRow("rounding carries into a fifth digit") << 9999.96 << "1E4";
        QTest::newRow("whole number") << 35.0 << "35.0";
        QTest::newRow("negative") << -3.2 << "-3.2";
        QTest::newRow("zero") << 0.0 << "0.0";
        QTest::newRow("below a twentieth") << 0.04 << "0.0";
        QTest::newRow("small negative rounds to zero") << -0.04 << "0.0";
        QTest::newRow("half of a tenth, away from zero") << 0.25 << "0.3";
        QTest::newRow("knots to km/h") << 10.0 * 1.852 << "18.5";
        // A TTFF of 123.45 s arrives as a 32-bit float, 123.4499969...
        QTest::newRow("single precision TTFF") << static_cast<double>(123.45f) << "123.4";
        QTest::newRow("huge") << 1e20 << "1E20";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "NAN";
    }
    void oneDecimal() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(Q(OneDecimalText(value)), text);
    }

    void general_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("decimal") << 54.7 << "54.7";
        QTest::newRow("whole") << 7.0 << "7";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("below 1e-4") << 0.00001 << "1E-5";
        QTest::newRow("1e-4 itself") << 0.0001 << "0.0001";
        QTest::newRow("exponent with digits") << -0.000015 << "-1.5E-5";
        QTest::newRow("fifteen digits") << 999999999999999.0 << "999999999999999";
        QTest::newRow("1e15") << 1e15 << "1E15";
        QTest::newRow("binary noise hidden") << 0.1 + 0.2 << "0.3";
        QTest::newRow("course") << 359.99 << "359.99";
    }
    void general() {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(Q(GeneralText(value)), text);
    }

    void readings() {
        QCOMPARE(number("2503.5000"), 2503.5);
        QCOMPARE(number(""), 0.0);
        QCOMPARE(number("1.2x"), 0.0);
        QCOMPARE(number("inf"), 0.0);
        QCOMPARE(number("nan"), 0.0);
        QCOMPARE(number("1e999"), 0.0);
        QCOMPARE(number(" -3.5 "), -3.5);
        QCOMPARE(integer("02"), 2);
        QCOMPARE(integer("10"), 10);
        QCOMPARE(integer("1.5"), 0);
        QCOMPARE(integer("A1"), 0);
        QCOMPARE(integer(""), 0);
        QCOMPARE(integer("99999999999"), 0);
        // A field without its NUL is read up to its end, not beyond.
        const char full[4] = {'1', '2', '3', '4'};
        QCOMPARE(FieldText(full).size(), std::size_t(4));
    }

    void twoDigitText_data() {
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << "00";
        QTest::newRow("7") << 7 << "07";
        QTest::newRow("10") << 10 << "10";
        QTest::newRow("121") << 121 << "121";
    }
    void twoDigitText() {
        QFETCH(int, n);
        QFETCH(QString, text);
        QCOMPARE(Q(TwoDigitText(n)), text);
    }

    void time_data() {
        QTest::addColumn<QString>("utc");
        QTest::addColumn<QString>("text");
        QTest::newRow("seconds cut") << "095326.450"
                                     << "     09 : 53 : 26";
        QTest::newRow("59.95 stays 59") << "235959.950"
                                        << "     23 : 59 : 59";
        QTest::newRow("midnight") << "000000.000"
                                  << "     00 : 00 : 00";
        QTest::newRow("whole seconds stay") << "120005.000"
                                            << "     12 : 00 : 05";
        QTest::newRow("no fraction") << "101010"
                                     << "     10 : 10 : 10";
        QTest::newRow("cut short") << "09"
                                   << "     09 :  : 00";
        QTest::newRow("empty") << ""
                               << "";
    }
    void time() {
        QFETCH(QString, utc);
        QFETCH(QString, text);
        QCOMPARE(Q(TimeText(utc.toStdString())), text);
    }

    void date() {
        QCOMPARE(Q(DateText("070709")), QString("     07/07/2009"));
        QCOMPARE(Q(DateText("311209")), QString("     12/31/2009"));
        QCOMPARE(Q(DateText("")), QString());
    }

    void position_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<char>("hemisphere");
        QTest::addColumn<QString>("latDegrees");
        QTest::addColumn<QString>("lonDegrees");
        QTest::addColumn<QString>("minutesSeconds");
        // 25.035 has no exact binary form; the digits give 03'30.000.
        QTest::newRow("exact digits") << "2503.5000" << 'N' << "   25"
                                      << " 25"
                                      << "03'30.000\" N";
        QTest::newRow("three-digit longitude") << "12130.5678" << 'E' << "   12"
                                               << " 121"
                                               << "30'34.068\" E";
        QTest::newRow("small degrees") << "00507.3950" << 'W' << "   05"
                                       << " 05"
                                       << "07'23.700\" W";
        QTest::newRow("empty field") << "" << 'S' << ""
                                     << ""
                                     << "";
        QTest::newRow("not a number") << "12x4" << 'N' << "   00"
                                      << " 00"
                                      << "00'00.000\" N";
        QTest::newRow("no hemisphere") << "2503.5000" << '\0' << "   25"
                                       << " 25"
                                       << "03'30.000\" ";
        // Far outside any coordinate: shown as zero, never an overflow.
        QTest::newRow("absurd") << "1e30" << 'N' << "   00"
                                << " 00"
                                << "00'00.000\" N";
    }
    void position() {
        QFETCH(QString, field);
        QFETCH(char, hemisphere);
        QFETCH(QString, latDegrees);
        QFETCH(QString, lonDegrees);
        QFETCH(QString, minutesSeconds);
        const Dms dms = ToDms(field.toStdString());
        QCOMPARE(Q(LatitudeDegreesText(dms)), latDegrees);
        QCOMPARE(Q(LongitudeDegreesText(dms)), lonDegrees);
        QCOMPARE(Q(MinutesSecondsText(dms, hemisphere)), minutesSeconds);
    }

    void secondsAreCutNotRounded() {
        QCOMPARE(Q(MinutesSecondsText(ToDms("0000.49998474"), 'N')), QString("00'29.999\" N"));
        QCOMPARE(Q(MinutesSecondsText(ToDms("0000.12328338"), 'N')), QString("00'07.397\" N"));
        QCOMPARE(Q(MinutesSecondsText(ToDms("0000.99999833"), 'N')), QString("00'59.999\" N"));
        QCOMPARE(Q(SecondsText(-7397)), QString("-07.397"));
    }

    void fieldTexts() {
        QCOMPARE(Q(SpeedText("10.0")), QString("  18.5"));
        QCOMPARE(Q(SpeedText("")), QString());
        QCOMPARE(Q(CourseText("54.70")), QString(" 54.7"));
        QCOMPARE(Q(CourseText("")), QString());
        QCOMPARE(Q(AltitudeText("123.45")), QString("         123.5"));
        QCOMPARE(Q(DopText(0.96f)), QString(" 1.0"));
    }

    // What the receiver sent and what the view shows: whole seconds cut,
    // arc-seconds exact to the shown digits, and a field left empty shown
    // empty (a received zero is still a number).
    void receivedAndShown_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("received");
        QTest::addColumn<QString>("shown");
        auto row = [](const char* name, const char* field, const char* received,
                      const char* shown) { QTest::newRow(name) << field << received << shown; };
        row("time: the second received", "time", "095326.450", "     09 : 53 : 26");
        row("time: never second 60", "time", "235959.950", "     23 : 59 : 59");
        // Single precision gave 07.408 and 29.999 here.
        row("longitude seconds", "position", "15303.1229", " 153 03'07.374\" E");
        row("half a minute exactly", "position", "2503.5000", " 25 03'30.000\" E");
        row("just below, cut", "position", "2503.49999", " 25 03'29.999\" E");
        row("digits beyond the shown ones", "position", "4723.99999999", " 47 23'59.999\" E");
        row("a tenth-thousandth minute", "position", "0000.0001", " 00 00'00.006\" E");
        row("exponent form", "position", "2.5035e3", " 25 03'30.000\" E");
        row("position: empty", "position", "", " ");
        row("altitude: zero received", "altitude", "0.0", "         0.0");
        row("altitude: empty", "altitude", "", "");
        row("speed: empty", "speed", "", "");
        row("heading: empty", "heading", "", "");
        row("DOP: empty", "dop", "", "");
    }
    void receivedAndShown() {
        QFETCH(QString, field);
        QFETCH(QString, received);
        QFETCH(QString, shown);
        const std::string text = received.toStdString();
        std::string result;
        if (field == "time") result = TimeText(text);
        if (field == "position") {
            const Dms dms = ToDms(text);
            result = LongitudeDegreesText(dms) + " " + MinutesSecondsText(dms, 'E');
        }
        if (field == "altitude") result = AltitudeText(text);
        if (field == "speed") result = SpeedText(text);
        if (field == "heading") result = CourseText(text);
        // The record holds DOPs as the library read them: 0 for an empty field.
        if (field == "dop") result = DopText(static_cast<float>(number(text)));
        QCOMPARE(Q(result), shown);
    }

    void captions() {
        QCOMPARE(
            Q(VersionCaption("01", "05", "02", "10", "A3B7X")),
            QString("Main Window   [ F/W Ver: 1.5 ]  [ Kernel Ver: 2.10 ]  [ FSA Ver: A3B7 ]"));
        QCOMPARE(Q(VersionCaption("x1", "", "2", "3", "AB")),
                 QString("Main Window   [ F/W Ver: 0.0 ]  [ Kernel Ver: 2.3 ]  [ FSA Ver: AB ]"));
        QCOMPARE(Q(CustomerCaption("CUST-01")),
                 QString("Main Window  Customer FW Version : CUST-01"));
    }
};

QTEST_APPLESS_MAIN(TestDisplayFormats)
#include "test_display_formats.moc"
