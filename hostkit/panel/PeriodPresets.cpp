#include "PeriodPresets.h"

#include "WallClock.h"

#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QSpinBox>
#include <QToolButton>

#include <algorithm>

std::pair<QDate, QDate> PeriodPresets::Range(Preset preset, const QDate &today)
{
    return *WallClock::RelativePeriod(Caption(preset), today);
}

QString PeriodPresets::Caption(Preset preset)
{
    static const char *const captions[] = {"今天", "昨天", "本周", "本月", "上月", "本年", "上年"};
    return QString::fromUtf8(captions[preset]);
}

PeriodPresets *PeriodPresets::For(QWidget *frame, QWidget *parent)
{
    // The begin picker stands left of the end picker.
    auto leftToRight = [](auto list) {
        std::sort(list.begin(), list.end(), [](QWidget *a, QWidget *b) { return a->x() < b->x(); });
        return list;
    };
    const auto dates = leftToRight(frame->findChildren<QDateTimeEdit *>());
    if (dates.size() >= 2)
        return new PeriodPresets(dates.first(), dates.last(), false, parent);
    const auto boxes = leftToRight(frame->findChildren<QSpinBox *>());
    if (boxes.size() >= 2)
        return new PeriodPresets(boxes.first(), boxes.last(), true, parent);
    return nullptr;
}

PeriodPresets::PeriodPresets(QAbstractSpinBox *begin, QAbstractSpinBox *end, bool monthBoxes, QWidget *parent)
    : QWidget(parent), m_begin(begin), m_end(end), m_monthBoxes(monthBoxes)
{
    setObjectName(QStringLiteral("periodPresets"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    layout->addWidget(new QLabel(QStringLiteral("快速选择："), this));
    for (Preset p : {Today, Yesterday, ThisWeek, ThisMonth, LastMonth, ThisYear, LastYear}) {
        // A month box shows one month: only the periods that lie in one month fit it.
        if (monthBoxes && (p == ThisWeek || p == ThisYear || p == LastYear))
            continue;
        auto *button = new QToolButton(this);
        button->setObjectName(QStringLiteral("periodPreset"));
        button->setText(Caption(p));
        // A shortcut for the mouse; the keyboard goes from field to field.
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QToolButton::clicked, this, [this, p] { Apply(p); });
        layout->addWidget(button);
    }
    layout->addStretch(1);
}

void PeriodPresets::Apply(Preset preset, const QDate &today)
{
    const auto [first, last] = Range(preset, today);
    if (m_monthBoxes) {
        static_cast<QSpinBox *>(m_begin)->setValue(first.year());
        static_cast<QSpinBox *>(m_end)->setValue(first.month());
        return;
    }
    // In the pickers' own time spec: the dialogs' pickers hold wall-clock (UTC spec) values, so
    // a day that starts at 01:00 in the local zone still starts at 00:00:00 here.
    auto *begin = static_cast<QDateTimeEdit *>(m_begin);
    auto *end = static_cast<QDateTimeEdit *>(m_end);
    begin->setDateTime(QDateTime(first, QTime(0, 0), begin->timeSpec()));
    end->setDateTime(QDateTime(last, QTime(23, 59, 59), end->timeSpec()));
}
