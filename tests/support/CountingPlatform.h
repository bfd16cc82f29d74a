#pragma once

#include "platform/PlatformServices.h"

// Desktop services for long runs such as the benchmarks: nothing is shown, nothing blocks and
// nothing grows. Boxes, announcements and beeps are only counted, so that a run can check that
// every chat line arrived (each received line beeps once) without a dialog stopping the event
// loop.
class CountingPlatform : public PlatformServices
{
public:
    void messageBox(QWidget *, const QString &, const QString &) override { ++boxes; }
    void announce(QWidget *, const QString &, const QString &) override { ++announcements; }
    QString inputBox(QWidget *, const QString &, const QString &, const QString &) override
    {
        return {};
    }
    bool question(QWidget *, const QString &, const QString &) override { return false; }
    QString remembered(const QString &) const override { return {}; }
    void remember(const QString &, const QString &) override {}
    void beep() override { ++beeps; }
    double randomUnit() override { return 0.0; }
    void endProgram() override { ++programEnds; }

    int boxes = 0;
    int announcements = 0;
    int beeps = 0;
    int programEnds = 0;
};
