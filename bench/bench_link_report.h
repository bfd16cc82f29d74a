#pragma once

#include <QFile>
#include <QString>
#include <QTextStream>
#include <QVector>

#include <cmath>
#include <cstdio>
#include <optional>

// Collects the figures of a benchmark run. Each figure is printed at once as one
// machine-readable line
//
//   RESULT <benchmark> <figure> <value> <unit>
//
// and, at the end, as a readable table and optionally as Markdown rows appended to a file.
// A figure may carry a baseline (the ratio is value / baseline) and a target; whether the
// target is met is decided by the caller and only reported here, never turned into a failure.
class BenchReport
{
public:
    struct Figure
    {
        QString benchmark;
        QString figure;
        double value = 0;
        QString unit;
        std::optional<double> baseline;
        QString target;
        std::optional<bool> met;
    };

    void add(const Figure &figure)
    {
        m_figures.append(figure);
        std::printf("RESULT %s %s %s %s\n", qPrintable(figure.benchmark), qPrintable(figure.figure),
                    qPrintable(number(figure.value)), qPrintable(figure.unit));
        std::fflush(stdout);
    }

    // A note printed with the summary (a failed check, a measurement that had to be cut short).
    void note(const QString &text)
    {
        m_notes.append(text);
        std::printf("NOTE %s\n", qPrintable(text));
        std::fflush(stdout);
    }

    int checksFailed() const { return m_checksFailed; }
    void checkFailed(const QString &text)
    {
        ++m_checksFailed;
        note(QStringLiteral("CHECK FAILED: ") + text);
    }

    void printSummary() const
    {
        std::printf("\n%-24s %-34s %14s %14s %9s  %-30s %s\n", "benchmark", "figure", "value",
                    "baseline", "ratio", "target", "met");
        for (const Figure &f : m_figures) {
            std::printf("%-24s %-34s %14s %14s %9s  %-30s %s\n", qPrintable(f.benchmark),
                        qPrintable(f.figure), qPrintable(withUnit(f.value, f.unit)),
                        f.baseline ? qPrintable(withUnit(*f.baseline, f.unit)) : "",
                        qPrintable(ratioText(f)), qPrintable(f.target), qPrintable(metText(f)));
        }
        int met = 0;
        int missed = 0;
        for (const Figure &f : m_figures) {
            if (f.met)
                (*f.met ? met : missed)++;
        }
        std::printf("\nTargets met: %d, missed: %d. Checks failed: %d.\n", met, missed,
                    m_checksFailed);
        for (const QString &text : m_notes)
            std::printf("  note: %s\n", qPrintable(text));
        std::fflush(stdout);
    }

    // Appends one row per figure; writes the header first when the file is new or empty.
    bool appendMarkdown(const QString &path) const
    {
        QFile file(path);
        const bool fresh = !file.exists() || file.size() == 0;
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            return false;
        QTextStream out(&file);
        if (fresh) {
            out << "| benchmark | figure | value | baseline | ratio | target | met |\n";
            out << "|---|---|---|---|---|---|---|\n";
        }
        for (const Figure &f : m_figures) {
            out << "| " << f.benchmark << " | " << f.figure << " | " << withUnit(f.value, f.unit)
                << " | " << (f.baseline ? withUnit(*f.baseline, f.unit) : QString()) << " | "
                << ratioText(f) << " | " << f.target << " | " << metText(f) << " |\n";
        }
        return true;
    }

    static QString number(double value)
    {
        if (std::isnan(value))
            return QStringLiteral("nan");
        const double magnitude = std::fabs(value);
        const int decimals = magnitude >= 100 ? 1 : magnitude >= 1 ? 2 : 3;
        return QString::number(value, 'f', decimals);
    }

private:
    static QString withUnit(double value, const QString &unit)
    {
        return unit.isEmpty() ? number(value) : number(value) + QLatin1Char(' ') + unit;
    }
    static QString ratioText(const Figure &f)
    {
        if (!f.baseline || *f.baseline == 0)
            return {};
        return QString::number(f.value / *f.baseline, 'f', 2) + QLatin1Char('x');
    }
    static QString metText(const Figure &f)
    {
        if (!f.met)
            return {};
        return *f.met ? QStringLiteral("yes") : QStringLiteral("no");
    }

    QVector<Figure> m_figures;
    QStringList m_notes;
    int m_checksFailed = 0;
};
