// Dialog templates as data: each dialog's caption, size in dialog units and font, and each
// control's id, kind, text, rectangle in dialog units and style notes, in tab order. The
// templates, the string table and the icons live in res/ and are compiled into the program.
#pragma once

#include <QIcon>
#include <QJsonObject>
#include <QRect>
#include <QString>
#include <QStringList>
#include <vector>

namespace tarnwell {

enum class ControlKind { Edit, PushButton, GroupBox, Label, ProgressBar, DropDownList, CheckBox, Icon };

// A static control with no id of its own (labels, group boxes, the About icon).
inline constexpr int kNoControlId = -1;

struct ControlTemplate {
    int id = kNoControlId;
    ControlKind kind = ControlKind::Label;
    QString text;       // caption; for an icon control, the icon's resource id
    QRect rect;         // dialog units
    QStringList style;  // "read-only", "default", "smooth", ...
    QStringList items;  // initialisation data of a drop-down list

    bool HasStyle(const QString& note) const { return style.contains(note); }
};

struct DialogTemplate {
    int id = 0;
    QString caption;
    int width = 0;   // dialog units
    int height = 0;  // dialog units
    QString fontFamily;
    int fontPointSize = 8;
    QStringList style;
    std::vector<ControlTemplate> controls;  // in tab order

    const ControlTemplate* Find(int controlId) const;
};

// One dialog template from its JSON object; throws std::runtime_error when the size, the
// font, a control's kind or a rectangle is missing or malformed.
DialogTemplate ParseDialogTemplate(const QJsonObject& object);

// The dialog template with this resource id; throws std::runtime_error when there is none
// (the resources are compiled in, so a missing one is a build fault).
const DialogTemplate& LoadDialogTemplate(int templateId);

// The string with this resource id, or an empty string when there is none.
QString LoadResourceString(int stringId);

// The icon with this resource id, with every size the resources hold (null when there is none).
QIcon LoadResourceIcon(int iconId);

}  // namespace tarnwell
