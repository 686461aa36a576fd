#pragma once
// The HTML of a mail, shown as a mail program shows it: the pictures that travel inside the mail by
// their "cid:" URL, and nothing else. A preview never loads anything from the web or from files (a
// remote picture shows as a missing one, as in a mail program that blocks it), and its links open
// nothing.

#include <QTextBrowser>

#include <map>
#include <string>

class MailHtmlView : public QTextBrowser {
    Q_OBJECT
public:
    explicit MailHtmlView(QWidget* parent = nullptr);

    // The HTML (UTF-8) with its pictures' bytes by Content-ID, which its img elements name as "cid:ID".
    void ShowMail(const std::string& html, const std::map<std::string, std::string>& pictures);

protected:
    // Only what ShowMail registered is there: no file, no address, no style sheet is ever read.
    QVariant loadResource(int type, const QUrl& name) override;
};
