// Data exchange between a dialog's members and its controls, one call per control in the
// dialog's own order. Writing never fails. Reading an integer box that does not hold an
// integer puts the focus on that box with its text selected, prompts "Please enter an
// integer." and stops the exchange there: members exchanged earlier keep their new values, that one and every
// later one keep their old values, and the exchange reports failure.
#pragma once

#include <QString>
#include <QWidget>
#include <optional>
#include <stdexcept>
#include <string>

namespace tarnwell {

class TemplateDialog;

class DataExchange {
public:
    static constexpr const char* kIntegerPrompt = "Please enter an integer.";

    DataExchange(TemplateDialog& dialog, bool saveAndValidate) : dialog_(dialog), save_(saveAndValidate) {}

    bool SaveAndValidate() const { return save_; }
    bool Failed() const { return failed_; }

    void Text(int id, QString& value);   // edit box text
    void Int(int id, int& value);        // edit box holding a decimal integer
    void Check(int id, int& value);      // check box: 0 or 1
    void ListIndex(int id, int& value);  // drop-down list: selected row, -1 for none

    // Binds the member to the control once; later exchanges leave it alone.
    template <class Widget>
    void Control(int id, Widget*& control)
    {
        if (!failed_ && control == nullptr) {
            control = Require<Widget>(id);
        }
    }

    // An optional sign and decimal digits, with blanks allowed around them; nothing else, and
    // nothing outside the int range.
    static std::optional<int> ParseInt(const QString& text);

private:
    QWidget* Find(int id) const;  // throws std::logic_error for an id the dialog lacks
    template <class Widget>
    Widget* Require(int id) const;
    void Fail(QWidget* control, const QString& prompt);

    TemplateDialog& dialog_;
    bool save_;
    bool failed_ = false;
};

template <class Widget>
Widget* DataExchange::Require(int id) const
{
    auto* widget = qobject_cast<Widget*>(Find(id));
    if (widget == nullptr) {
        throw std::logic_error("control " + std::to_string(id) + " is not of the kind its exchange needs");
    }
    return widget;
}

}  // namespace tarnwell
