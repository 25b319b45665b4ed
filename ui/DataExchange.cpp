#include "ui/DataExchange.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

#include "ui/TemplateDialog.h"

namespace tarnwell {

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
    // The box to mend is pointed out while the prompt is read, not only once it is closed.
    control->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->selectAll();
    }
    dialog_.MessageBox(prompt);
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
    // Qt's conversion takes an optional sign and decimal digits and refuses anything past
    // the int range; the blanks around them are trimmed first.
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? std::optional<int>(value) : std::nullopt;
}

}  // namespace tarnwell
