#pragma once
// Opening a web page in the user's browser, behind an interface so that tests can record
// what would have been opened instead of starting a browser.
#include <QString>
#include <QStringList>

namespace kv::platform {

class IUrlOpener {
  public:
    virtual ~IUrlOpener() = default;
    virtual void open(const QString& url) = 0;
};

// Hands the address to the desktop (the user's default browser for web addresses).
// A failure to open is not reported: nothing the program does depends on it.
class SystemUrlOpener : public IUrlOpener {
  public:
    void open(const QString& url) override;
};

// Remembers every address it is asked to open, in order.
class RecordingUrlOpener : public IUrlOpener {
  public:
    void open(const QString& url) override { opened.append(url); }
    QStringList opened;
};

// True when the text is an absolute http or https address with a host: the only kind of
// target the program lets a server's answer open.
bool isWebAddress(const QString& text);

} // namespace kv::platform
