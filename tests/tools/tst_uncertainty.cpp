#include "tools/uncertainty.h"
#include <QtTest>

// The expected numbers were worked out by hand from the GUM's formulas, not by the code.
class TestUncertainty : public QObject {
    Q_OBJECT
private slots:
    void budget_data() {
        QTest::addColumn<QList<double>>("readings");
        QTest::addColumn<double>("referenceU");
        QTest::addColumn<double>("referenceK");
        QTest::addColumn<double>("resolution");
        QTest::addColumn<double>("typeA");
        QTest::addColumn<double>("reference");
        QTest::addColumn<double>("resolutionTerm");
        QTest::addColumn<double>("combined");
        QTest::addColumn<QString>("expanded");
        // s = sqrt(0,001 / 4) = 0,0158114; s/sqrt(5) = 0,0070711; 0,02/2; 0,01/sqrt(12)
        QTest::newRow("five readings")
            << QList<double>{100.02, 100.04, 100.03, 100.05, 100.01} << 0.02 << 2.0 << 0.01
            << 0.0070710678 << 0.01 << 0.0028867513 << 0.0125830574 << "0,026";
        // one reading has no type A; 1/sqrt(12) = 0,2886751
        QTest::newRow("one reading") << QList<double>{5} << 0.1 << 2.0 << 1.0 << 0.0 << 0.05
                                     << 0.2886751346 << 0.2929732637 << "0,59";
        // a coverage factor not given counts as 2; the same readings give no spread
        QTest::newRow("k not given")
            << QList<double>{7, 7, 7} << 0.4 << 0.0 << 0.0 << 0.0 << 0.2 << 0.0 << 0.2 << "0,40";
        QTest::newRow("k of 3") << QList<double>{7, 7} << 0.3 << 3.0 << 0.0 << 0.0 << 0.1 << 0.0
                                << 0.1 << "0,20";
    }
    void budget() {
        QFETCH(QList<double>, readings);
        QFETCH(double, referenceU);
        QFETCH(double, referenceK);
        QFETCH(double, resolution);
        const UncertaintyBudget b = BudgetOf(readings, referenceU, referenceK, resolution);
        QFETCH(double, typeA);
        QFETCH(double, reference);
        QFETCH(double, resolutionTerm);
        QFETCH(double, combined);
        QVERIFY2(std::fabs(b.typeA - typeA) < 1e-9, qPrintable(QString::number(b.typeA, 'g', 12)));
        QVERIFY(std::fabs(b.reference - reference) < 1e-9);
        QVERIFY(std::fabs(b.resolution - resolutionTerm) < 1e-9);
        QVERIFY2(std::fabs(b.combined - combined) < 1e-9,
                 qPrintable(QString::number(b.combined, 'g', 12)));
        QCOMPARE(b.k, 2.0);
        QVERIFY(std::fabs(b.expanded - 2 * combined) < 1e-9);
        QTEST(TwoSignificantDigits(b.expanded), "expanded");
    }

    // Tolerance 0,5 and U 0,125, both exact in binary, so the boundaries are exact too.
    void decide_data() {
        QTest::addColumn<int>("rule");
        QTest::addColumn<double>("error");
        QTest::addColumn<int>("verdict");
        const int simple = int(DecisionRule::Simple), guard = int(DecisionRule::GuardBanded);
        const int pass = int(Verdict::Pass), fail = int(Verdict::Fail),
                  unsure = int(Verdict::Undetermined);
        QTest::newRow("simple: at the tolerance") << simple << 0.5 << pass;
        QTest::newRow("simple: just past it") << simple << 0.5000001 << fail;
        QTest::newRow("simple: negative within") << simple << -0.375 << pass;
        QTest::newRow("simple: negative past") << simple << -0.625 << fail;
        QTest::newRow("guard: error + U at the tolerance") << guard << 0.375 << pass;
        QTest::newRow("guard: error + U just past it") << guard << 0.376 << unsure;
        QTest::newRow("guard: error - U at the tolerance") << guard << 0.625 << unsure;
        QTest::newRow("guard: error - U just past it") << guard << 0.626 << fail;
        QTest::newRow("guard: negative pass") << guard << -0.375 << pass;
        QTest::newRow("guard: negative fail") << guard << -0.7 << fail;
        QTest::newRow("guard: no error") << guard << 0.0 << pass;
    }
    void decide() {
        QFETCH(int, rule);
        QFETCH(double, error);
        QTEST(int(Decide(DecisionRule(rule), error, 0.5, 0.125)), "verdict");
    }

    void texts_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("resolution");
        QTest::addColumn<QString>("atResolution");
        QTest::newRow("hundredths") << 100.0249 << 0.01 << "100,02";
        QTest::newRow("rounds up across") << 99.996 << 0.01 << "100,00";
        QTest::newRow("half steps") << 12.34 << 0.5 << "12,5";
        QTest::newRow("units") << 1234.4 << 1.0 << "1234";
        QTest::newRow("thousandths") << 0.12345 << 0.001 << "0,123";
        QTest::newRow("negative") << -3.14159 << 0.01 << "-3,14";
    }
    void texts() {
        QFETCH(double, value);
        QFETCH(double, resolution);
        QTEST(AtResolution(value, resolution), "atResolution");
    }

    // Two significant digits, never less than the uncertainty itself.
    void twoDigits_data() {
        QTest::addColumn<double>("u");
        QTest::addColumn<QString>("text");
        QTest::newRow("rounded up") << 0.0251661148 << "0,026";
        QTest::newRow("exact stays") << 0.013 << "0,013";
        QTest::newRow("tens") << 12.3 << "13";
        QTest::newRow("hundreds") << 123.0 << "130";
        QTest::newRow("up to the next decade") << 0.0995 << "0,10";
        QTest::newRow("zero") << 0.0 << "0";
    }
    void twoDigits() {
        QFETCH(double, u);
        QTEST(TwoSignificantDigits(u), "text");
    }
};

QTEST_GUILESS_MAIN(TestUncertainty)
#include "tst_uncertainty.moc"
