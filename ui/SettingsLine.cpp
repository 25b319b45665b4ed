#include "ui/SettingsLine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QStyle>

#include "ui/TemplateDialog.h"

namespace tarnwell {

SettingsLine::SettingsLine(QWidget* parent)
    : QWidget(parent),
      icon_(new QLabel(this)),
      text_(new QLabel(this))
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(icon_, 0, Qt::AlignTop);
    row->addWidget(text_, 1);
    const int side = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
    icon_->setFixedSize(side, side);
    // Two lines hold the longest advice at the window's width; the tooltip has it whole.
    text_->setWordWrap(true);
    // The answer a user reads first: it stands out from the notes around it.
    QFont bold = text_->font();
    bold.setBold(true);
    text_->setFont(bold);
    text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Show({});
}

void SettingsLine::Show(const std::vector<Finding>& findings)
{
    QString advice;
    QStringList warnings;
    for (const Finding& f : findings) {
        if (f.code == kSettingsFindingCode && advice.isEmpty()) {
            advice = QString::fromStdString(f.text);
        }
        if (f.severity == Severity::Warning) {
            warnings << QString::fromStdString(f.text);
        }
    }
    text_->setText(advice);
    const bool warns = !advice.isEmpty() && !warnings.isEmpty();
    icon_->setPixmap(
        warns ? style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, this).pixmap(icon_->size())
              : QPixmap());
    icon_->setVisible(warns);
    QString tip;
    if (!advice.isEmpty()) {
        tip = advice;
        if (warns) {
            tip += QStringLiteral("\n\n") + tr("Behind it:") + QStringLiteral("\n\u2022 ") +
                   warnings.join(QStringLiteral("\n\u2022 "));
        }
        tip += QStringLiteral("\n\n") + tr("Click to open Details.");
    }
    setToolTip(tip);
    text_->setToolTip(tip);
    setEnabled(!advice.isEmpty());
    if (advice.isEmpty()) {
        unsetCursor();
    } else {
        setCursor(Qt::PointingHandCursor);  // it opens Details
    }
}

void SettingsLine::SetStale(bool stale) { GreyText(*text_, stale); }

QString SettingsLine::Text() const { return text_->text(); }

bool SettingsLine::Warns() const { return !icon_->isHidden(); }

void SettingsLine::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && !Text().isEmpty()) {
        emit Clicked();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

}  // namespace tarnwell
