#include "ui/shell/about.h"

#include "ui_about.h"

About::About(QWidget* parent) : QDialog(parent), ui(new Ui_About)
{
    ui->setupUi(this);
    connect(ui->pushButton, &QPushButton::clicked, this, &QDialog::accept);
}

About::~About()
{
    delete ui;
}
