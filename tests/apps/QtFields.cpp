// A Qt window with two text fields and a password field, as applications have
// them. Prints its state as one JSON line whenever it changes: which field has
// focus, each field's text, the preedit shown, and the keys that reached the
// application past the input method ("alt+d", "escape"), and whether the window
// is the active one; first the fields' places. A line "focus NAME" on standard
// input moves the focus to that field, as the application itself may.
#include <QApplication>
#include <QInputMethodEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLineEdit>
#include <QShortcut>
#include <QSocketNotifier>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>
#include <unistd.h>

namespace {

class Fields : public QWidget {
public:
    Fields()
    {
        setWindowTitle(QStringLiteral("fields"));
        auto* layout = new QVBoxLayout(this);
        for (const char* name : {"a", "b", "p"}) {
            auto* field = fields_.emplace_back(new QLineEdit(this));
            field->setObjectName(QLatin1String(name));
            field->installEventFilter(this);
            connect(field, &QLineEdit::textChanged, this, &Fields::report);
            layout->addWidget(field);
        }
        fields_.back()->setEchoMode(QLineEdit::Password);
        connect(qApp, &QApplication::focusChanged, this, &Fields::report);
        // A shortcut, as applications have them (Alt+D: the address bar in browsers).
        connect(new QShortcut(QKeySequence(QStringLiteral("Alt+D")), this), &QShortcut::activated, this,
                [this] { keys_ << QStringLiteral("alt+d"), report(); });
        connect(&commands_, &QSocketNotifier::activated, this, &Fields::command);
        QTimer::singleShot(0, this, [this] {
            QJsonObject places;
            for (QLineEdit* field : fields_) {
                const QPoint middle = field->mapTo(this, field->rect().center());
                places[field->objectName()] = QJsonArray{middle.x(), middle.y()};
            }
            print(QJsonObject{{"places", places}});
            report();
        });
    }

    void report()
    {
        QJsonObject state{{"preedit", preedit_}, {"keys", QJsonArray::fromStringList(keys_)}};
        for (QLineEdit* field : fields_)
            state[field->objectName()] = field->text();
        state["focus"] = QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
        state["active"] = isActiveWindow();
        print(state);
    }

protected:
    void changeEvent(QEvent* event) override
    {
        if (event->type() == QEvent::ActivationChange)
            report();
        QWidget::changeEvent(event);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::InputMethod) {
            preedit_ = static_cast<QInputMethodEvent*>(event)->preeditString();
            report();
        } else if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            keys_ << (key->key() == Qt::Key_Escape ? QStringLiteral("escape") : key->text().toLower());
            report();
        }
        return QWidget::eventFilter(watched, event);
    }

private:
    void command()
    {
        char line[64] = {};
        const ssize_t length = ::read(STDIN_FILENO, line, sizeof line - 1);
        if (length <= 0) {
            commands_.setEnabled(false);
            return;
        }
        const QStringList words = QString::fromLatin1(line, length).split(' ', Qt::SkipEmptyParts);
        if (words.size() == 2 && words[0] == QLatin1String("focus"))
            if (auto* field = findChild<QLineEdit*>(words[1].trimmed()))
                field->setFocus();
    }

    static void print(const QJsonObject& object)
    {
        std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    }

    std::vector<QLineEdit*> fields_;
    QString preedit_;
    QStringList keys_;
    QSocketNotifier commands_{STDIN_FILENO, QSocketNotifier::Read};
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Fields fields;
    fields.show();
    return app.exec();
}
