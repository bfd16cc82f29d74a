#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

// Prints the figures of a benchmark run as result lines, the one form every benchmark reports
// in and bench/render_report.py turns into BENCHMARKS.md:
//
//   RESULT <tab> benchmark <tab> figure <tab> value <tab> unit <tab> baseline <tab> ratio
//          <tab> target <tab> met
//
// A figure may carry a baseline measured in the same run (the ratio is value / baseline) and a
// target; whether the target is met is decided by the caller and only reported (and only when
// there is a target), never turned into a failure. Notes ("NOTE <tab> text") go into the report
// below the figures.
class BenchReport
{
public:
    void add(const QString &benchmark, const QString &figure, double value, const QString &unit,
             std::optional<double> baseline = std::nullopt, const QString &target = {},
             std::optional<bool> met = std::nullopt)
    {
        const QString ratio = baseline && *baseline != 0 ? number(value / *baseline) : QString();
        const QString metText =
            met && !target.isEmpty() ? QString::fromLatin1(*met ? "yes" : "no") : QString();
        line({QStringLiteral("RESULT"), benchmark, figure, number(value), unit,
              baseline ? number(*baseline) : QString(), ratio, target, metText});
    }

    // A note for the report: a failed check, a measurement that had to be cut short.
    void note(const QString &text) { line({QStringLiteral("NOTE"), text}); }

    int checksFailed() const { return m_checksFailed; }
    void checkFailed(const QString &text)
    {
        ++m_checksFailed;
        note(QStringLiteral("CHECK FAILED: ") + text);
    }

private:
    static QString number(double value) { return QString::number(value, 'g', 8); }

    static void line(const QStringList &fields)
    {
        std::printf("%s\n", qPrintable(fields.join(QLatin1Char('\t'))));
        std::fflush(stdout);
    }

    int m_checksFailed = 0;
};
