#include "ui/FormSection.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace tellwire {

namespace {
constexpr int kRowMargin = 12;
constexpr int kRowPadding = 6;
constexpr int kRowSpacing = 8;
} // namespace

FormSection::FormSection(const QString& header, QWidget* parent)
    : QWidget(parent)
    , header_(new QLabel(header, this))
    , card_(new QFrame(this))
    , rows_(new QVBoxLayout(card_))
{
    header_->setObjectName(QStringLiteral("sectionHeader"));
    QFont headerFont = header_->font();
    headerFont.setWeight(QFont::DemiBold);
    header_->setFont(headerFont);
    header_->setContentsMargins(kRowMargin, 0, 0, 0);
    card_->setObjectName(QStringLiteral("sectionCard"));
    rows_->setContentsMargins(kRowMargin, 3, kRowMargin, 3);
    rows_->setSpacing(0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(5);
    layout->addWidget(header_);
    layout->addWidget(card_);
}

void FormSection::addSeparatorIfNeeded()
{
    if (rows_->count() == 0)
        return;
    auto* line = new QFrame(card_);
    line->setObjectName(QStringLiteral("rowSeparator"));
    line->setFixedHeight(1);
    rows_->addWidget(line);
}

void FormSection::addRow(QWidget* widget)
{
    auto* row = new QHBoxLayout;
    row->addWidget(widget);
    addRow(row);
}

void FormSection::addRow(QBoxLayout* layout)
{
    addSeparatorIfNeeded();
    layout->setContentsMargins(0, kRowPadding, 0, kRowPadding);
    if (layout->spacing() < 0 || layout->spacing() == rows_->spacing())
        layout->setSpacing(kRowSpacing);
    rows_->addLayout(layout);
}

QLabel* FormSection::addLabelledRow(const QString& title, QWidget* control)
{
    auto* label = new QLabel(title, card_);
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addStretch(1);
    row->addWidget(control);
    label->setBuddy(control);
    addRow(row);
    return label;
}

} // namespace tellwire
