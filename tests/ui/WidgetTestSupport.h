#pragma once

// Shared pieces of the widget tests: a model on in-memory services and a
// relay stand-in on 127.0.0.1 that records what the sign-in buttons send.

#include "relay/Defaults.h"
#include "relay/DesktopState.h"
#include "relay/SecretStore.h"
#include "relay/Transcript.h"
#include "support/Fakes.h"

#include <QByteArray>
#include <QColor>
#include <QHostAddress>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QPalette>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace tellwire::testing {

inline Transcript finalTranscript(const QString& utterance, const std::optional<QString>& text)
{
    Transcript t;
    t.utterance = utterance;
    t.text = text;
    t.final = true;
    return t;
}

inline constexpr QRgb kTeal = 0x0c9488;
inline constexpr QRgb kViolet = 0x7c3aed;

inline bool isDark(const QWidget& window)
{
    return window.palette().color(QPalette::Window).lightness() < 128;
}

// The colour a widget shows at its middle, as drawn.
inline QColor middleColour(QWidget& widget)
{
    const QImage image = widget.grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

// A model with nothing stored: no token, no preferences.
class ModelTest : public ::testing::Test {
protected:
    MemorySecretStore secrets;
    MemoryDefaults defaults;
    RecordingClipboard clipboard;
    std::unique_ptr<DesktopState> state;

    void SetUp() override { state = std::make_unique<DesktopState>(secrets, defaults, &clipboard); }
};

// Answers every HTTP request with 200 and a fixed JSON body, keeping each
// request's path and JSON body.
class RecordingRelay : public QObject {
public:
    struct Request {
        QByteArray method;
        QByteArray path;
        QJsonObject body;
    };

    QList<Request> requests;
    QByteArray reply = "{}";

    RecordingRelay()
    {
        server_.listen(QHostAddress::LocalHost, 0);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QString origin() const
    {
        return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort());
    }

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        qsizetype length = 0;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        for (const QByteArray& line : lines) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < headerEnd + 4 + length)
            return;
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        requests.append({requestLine.value(0), requestLine.value(1),
                         QJsonDocument::fromJson(buffer.mid(headerEnd + 4, length)).object()});
        buffers_.remove(socket);
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n"
                      "Content-Length: " + QByteArray::number(reply.size()) + "\r\n\r\n" + reply);
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    QHash<QTcpSocket*, QByteArray> buffers_;
};

} // namespace tellwire::testing
