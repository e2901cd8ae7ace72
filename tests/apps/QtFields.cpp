// A Qt window with two text fields and a password field, as applications have
// them. Prints its state as one JSON line whenever it changes: which field has
// focus, each field's text, the preedit shown, and the keys that reached the
// application past the input method ("alt+d", "escape").
#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <QJsonObject>
#include <QLineEdit>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <map>

namespace {

class Fields : public QWidget {
public:
    Fields()
    {
        auto* layout = new QVBoxLayout(this);
        for (const char* name : {"a", "b", "p"}) {
            auto* field = new QLineEdit(this);
            field->setObjectName(QLatin1String(name));
            field->installEventFilter(this);
            connect(field, &QLineEdit::textChanged, this, &Fields::report);
            layout->addWidget(field);
            fields_[name] = field;
        }
        fields_["p"]->setEchoMode(QLineEdit::Password);
        setWindowTitle(QStringLiteral("fields"));
        connect(qApp, &QApplication::focusChanged, this, &Fields::report);
        // A shortcut, as applications have them (Alt+D: the address bar in browsers).
        connect(new QShortcut(QKeySequence(QStringLiteral("Alt+D")), this), &QShortcut::activated, this, [this] {
            keys_ << QStringLiteral("alt+d");
            report();
        });
    }

    // Where each field's middle is in the window, for clicks.
    void reportPlaces()
    {
        QJsonObject places;
        for (const auto& [name, field] : fields_) {
            const QPoint middle = field->mapTo(this, field->rect().center());
            places[QLatin1String(name)] = QJsonArray{middle.x(), middle.y()};
        }
        std::printf("%s\n", QJsonDocument(QJsonObject{{"places", places}}).toJson(QJsonDocument::Compact).constData());
        report();
    }

    void report()
    {
        QJsonObject state{{"preedit", preedit_}, {"keys", QJsonArray::fromStringList(keys_)}};
        for (const auto& [name, field] : fields_)
            state[QLatin1String(name)] = field->text();
        const QWidget* focused = QApplication::focusWidget();
        state["focus"] = focused ? focused->objectName() : QString();
        std::printf("%s\n", QJsonDocument(state).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::InputMethod) {
            preedit_ = static_cast<QInputMethodEvent*>(event)->preeditString();
            report();
        } else if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            const QString name = key->key() == Qt::Key_Escape ? QStringLiteral("escape") : key->text().toLower();
            keys_ << ((key->modifiers() & Qt::AltModifier) ? QStringLiteral("alt+") : QString()) + name;
            report();
        }
        return QWidget::eventFilter(watched, event);
    }

private:
    std::map<const char*, QLineEdit*> fields_;
    QString preedit_;
    QStringList keys_;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Fields fields;
    fields.show();
    QTimer::singleShot(0, &fields, &Fields::reportPlaces);
    return app.exec();
}
