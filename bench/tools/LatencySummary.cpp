#include "LatencySummary.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

namespace {
constexpr double NotDrawn = std::numeric_limits<double>::infinity();
}

void LatencySummary::add(std::optional<double> latency)
{
    const double value = latency.value_or(NotDrawn);
    if (!latency)
        ++m_notDrawn;
    m_sorted.insert(std::upper_bound(m_sorted.begin(), m_sorted.end(), value), value);
}

bool LatencySummary::addReportLine(const std::string &line)
{
    std::istringstream words(line);
    std::string first, keysym, time, rest;
    if (!(words >> first))
        return false;
    if (first == "key") {
        int index = 0;
        if (!(words >> index >> keysym >> time) || words >> rest)
            return false;
        if (time == "-") {
            add(std::nullopt);
            return true;
        }
        std::size_t used = 0;
        double value = 0;
        try {
            value = std::stod(time, &used);
        } catch (const std::exception &) {
            return false;
        }
        if (used != time.size() || !std::isfinite(value) || value < 0)
            return false;
        add(value);
        return true;
    }
    if (first == "keys") {
        std::string drawingsWord, overtakenWord;
        int keys = 0, drawings = 0, overtaken = 0;
        if (!(words >> keys >> drawingsWord >> drawings >> overtakenWord >> overtaken) ||
            words >> rest || drawingsWord != "drawings" || overtakenWord != "overtaken" ||
            overtaken < 0)
            return false;
        addOvertaken(overtaken);
        return true;
    }
    return false;
}

double LatencySummary::median() const
{
    const std::size_t count = m_sorted.size();
    if (count == 0)
        return std::numeric_limits<double>::quiet_NaN();
    if (count % 2)
        return m_sorted[count / 2];
    return (m_sorted[count / 2 - 1] + m_sorted[count / 2]) / 2;
}

double LatencySummary::percentile(double fraction) const
{
    if (m_sorted.empty())
        return std::numeric_limits<double>::quiet_NaN();
    // The small allowance keeps 0.99 x 200 from rounding up to a rank of 199.
    const auto rank = std::size_t(std::ceil(fraction * double(m_sorted.size()) - 1e-9));
    return m_sorted[std::clamp<std::size_t>(rank, 1, m_sorted.size()) - 1];
}

double LatencySummary::maximum() const
{
    return m_sorted.empty() ? std::numeric_limits<double>::quiet_NaN() : m_sorted.back();
}
