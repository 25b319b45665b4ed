// A dialog built from a dialog template: one widget per control, placed by the template's
// rectangles in dialog units of the template's font, in tab order, found again by control id.
// It carries the two-way data exchange (UpdateData) and the message box through which the
// exchange and the dialog's owner talk to the user; tests replace the box through its seam.
#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <memory>

#include "ui/DialogTemplate.h"
#include "ui/DialogUnits.h"

class QStyle;

namespace tarnwell {

class DataExchange;

// Shows a control's text in the disabled colour, or back in the normal one, leaving it
// usable: for values that no longer match what the window shows elsewhere.
void GreyText(QWidget& widget, bool greyed);

class TemplateDialog : public QDialog {
    Q_OBJECT

public:
    // Shows text in a modal box with a single OK button and returns when it is closed.
    using MessageBoxHook = std::function<void(QWidget* parent, const QString& text)>;

    explicit TemplateDialog(int templateId, QWidget* parent = nullptr);
    ~TemplateDialog() override;

    const DialogTemplate& Template() const { return *template_; }
    const DialogUnits& Units() const { return units_; }

    // The control with this id, or nullptr.
    QWidget* Control(int id) const;
    template <class Widget>
    Widget* ControlAs(int id) const
    {
        return qobject_cast<Widget*>(Control(id));
    }

    // True: controls into members; false: members into controls. Returns false when reading
    // stopped at a box that does not hold what its member needs (the user has been told).
    bool UpdateData(bool saveAndValidate = true);

    // The application's standard message box: the text, a single OK button, modal.
    // Shows text with informative, when it is not empty, as the box's smaller second text.
    void MessageBox(const QString& text, const QString& informative = {});
    // What the box being shown gives as its informative text (for a replaced box).
    const QString& InformativeText() const { return informative_; }
    void SetMessageBoxHook(MessageBoxHook hook) { messageBox_ = std::move(hook); }

    // The first showing initialises the dialog (OnInitDialog), as the platform's dialogs did.
    void setVisible(bool visible) override;

protected:
    // Fills the controls from the members. Derived dialogs call this first.
    virtual bool OnInitDialog();
    virtual void DoDataExchange(DataExchange& dx);

private:
    QWidget* CreateControl(const ControlTemplate& control);

    const DialogTemplate* template_;
    DialogUnits units_;
    std::map<int, QWidget*> controls_;
    MessageBoxHook messageBox_;
    QString informative_;
    std::unique_ptr<QStyle> groupStyle_;  // outlives the group boxes that use it
    bool initialised_ = false;
};

}  // namespace tarnwell
