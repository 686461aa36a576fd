#pragma once
// The recipient list editor: a table over "sendlist.csv".

#include <QDialog>

#include <string>

class TFormGrid : public QDialog {
    Q_OBJECT
public:
    explicit TFormGrid(QWidget* parent = nullptr);

    // The main window hands over the data folder before every showing.
    void SetDataFolder(const std::string& folder) { dataFolder_ = folder; }
    const std::string& DataFolder() const { return dataFolder_; }

private:
    std::string dataFolder_;
};
