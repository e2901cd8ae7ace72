// A Qt window with two text fields and a password field, as applications have
// them. Prints its state as one JSON line whenever it changes: which field has
// focus, each field's text, the preedit shown, and the keys that reached the
// application past the input method ("alt+d", "escape"); first the fields' places.
#include <QApplication>
#include <QInputMethodEvent>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLineEdit>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

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
        print(state);
    }

protected:
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
    static void print(const QJsonObject& object)
    {
        std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    }

    std::vector<QLineEdit*> fields_;
    QString preedit_;
    QStringList keys_;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Fields fields;
    fields.show();
    return app.exec();
}
