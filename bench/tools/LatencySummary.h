#pragma once

#include <optional>
#include <string>
#include <vector>

// The figures of many keys' latencies: how many keys, how many were never seen drawn, the
// median, a percentile and the largest. A key never drawn counts as slower than any drawn one,
// so it shows in the high figures instead of vanishing from them.
class LatencySummary
{
public:
    void add(std::optional<double> latency);
    void addOvertaken(int keys) { m_overtaken += keys; }

    // Takes one line of keystroke_timer's report: "key INDEX KEYSYM MS" ("-" for MS when the
    // key was not drawn) or "keys COUNT drawings COUNT overtaken COUNT". False for any other.
    bool addReportLine(const std::string &line);

    int keys() const { return int(m_sorted.size()); }
    int notDrawn() const { return m_notDrawn; }
    int overtaken() const { return m_overtaken; }

    // NaN when there are no keys; infinity when the figure falls on a key never drawn.
    double median() const;
    // The nearest-rank percentile: the smallest latency that `fraction` of the keys do not
    // exceed.
    double percentile(double fraction) const;
    double maximum() const;

private:
    std::vector<double> m_sorted; // never-drawn keys as infinity
    int m_notDrawn = 0;
    int m_overtaken = 0;
};
