#include "ui/DataExchange.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <limits>

#include "ui/TemplateDialog.h"

QWidget* DataExchange::Find(int id) const
{
    QWidget* control = dialog_.Control(id);
    if (control == nullptr) {
        throw std::logic_error("the dialog has no control " + std::to_string(id));
    }
    return control;
}

void DataExchange::Fail(QWidget* control, const QString& prompt)
{
    failed_ = true;
    dialog_.MessageBox(prompt);
    control->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->selectAll();
    }
}

void DataExchange::Text(int id, QString& value)
{
    if (failed_) {
        return;
    }
    auto* edit = Require<QLineEdit>(id);
    if (save_) {
        value = edit->text();
    } else {
        edit->setText(value);
    }
}

void DataExchange::Int(int id, int& value)
{
    if (failed_) {
        return;
    }
    auto* edit = Require<QLineEdit>(id);
    if (!save_) {
        edit->setText(QString::number(value));
        return;
    }
    if (const std::optional<int> parsed = ParseInt(edit->text())) {
        value = *parsed;
    } else {
        Fail(edit, QString::fromLatin1(kIntegerPrompt));
    }
}

void DataExchange::Check(int id, int& value)
{
    if (failed_) {
        return;
    }
    auto* box = Require<QAbstractButton>(id);
    if (save_) {
        value = box->isChecked() ? 1 : 0;
    } else {
        box->setChecked(value != 0);
    }
}

void DataExchange::ListIndex(int id, int& value)
{
    if (failed_) {
        return;
    }
    auto* list = Require<QComboBox>(id);
    if (save_) {
        value = list->currentIndex();
    } else {
        list->setCurrentIndex(value);
    }
}

std::optional<int> DataExchange::ParseInt(const QString& text)
{
    const QString trimmed = text.trimmed();
    qsizetype i = 0;
    bool negative = false;
    if (i < trimmed.size() && (trimmed[i] == u'+' || trimmed[i] == u'-')) {
        negative = trimmed[i] == u'-';
        ++i;
    }
    if (i == trimmed.size()) {
        return std::nullopt;
    }
    // Accumulate the magnitude wide and stop as soon as it leaves the int range.
    const long long limit = negative ? -static_cast<long long>(std::numeric_limits<int>::min())
                                     : std::numeric_limits<int>::max();
    long long magnitude = 0;
    for (; i < trimmed.size(); ++i) {
        const QChar c = trimmed[i];
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + (c.unicode() - u'0');
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}
