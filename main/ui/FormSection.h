#pragma once

#include <QFrame>
#include <QString>
#include <QWidget>

class QBoxLayout;
class QLabel;
class QVBoxLayout;

namespace tellwire {

// One group of a settings form: a small header above a rounded box whose rows
// are divided by hairlines. Colours come from the window's style sheet
// (object names "sectionHeader", "sectionCard", "rowSeparator").
class FormSection : public QWidget {
    Q_OBJECT
public:
    explicit FormSection(const QString& header, QWidget* parent = nullptr);

    QLabel* header() const { return header_; }

    // A row holding one widget across the full width.
    void addRow(QWidget* widget);
    // A row holding a layout.
    void addRow(QBoxLayout* layout);
    // A row with a title at the leading edge and the control at the trailing edge.
    QLabel* addLabelledRow(const QString& title, QWidget* control);

private:
    void addSeparatorIfNeeded();

    QLabel* header_;
    QFrame* card_;
    QVBoxLayout* rows_;
};

} // namespace tellwire
