#include "ui/shell/zevcontrol.h"

#include <QComboBox>
#include <QLabel>

#include "ui/shell/textfit.h"

zevcontrol::zevcontrol(QRect combo, QRect left, QRect right, QWidget* parent)
    : QWidget(parent),
      label_focused_("color: rgb(255, 255, 255);border:1px solid rgb(255,171,84);background-color:rgb(0, 0, 0)"),
      label_modify_("color: rgb(255, 255, 255);border:1px solid rgb(71,119,255);background-color:rgb(0, 0, 0)"),
      combo_focused_("QComboBox{color:rgb(255,255,255);\nborder:1px solid rgb(255,171,84);\n}\nQComboBox:drop-down{\n"
                     "border-style:none\n}"),
      combo_modify_("QComboBox{color:rgb(255,255,255);\nborder:1px solid rgb(71,119,255);\n}\nQComboBox:drop-down{\n"
                    "border-style:none\n}")
{
    font_.setPointSize(9);
    combo_ = new QComboBox(this);
    combo_->setObjectName("zevcontrol");
    combo_->setGeometry(combo);
    combo_->setFont(font_);
    combo_->setFocusPolicy(Qt::NoFocus);
    combo_->setStyleSheet(combo_focused_);
    right_ = new QLabel(this);
    right_->setGeometry(right);
    right_->setFont(font_);
    right_->setStyleSheet(label_focused_);
    set_fitted(right_, ">");
    left_ = new QLabel(this);
    left_->setGeometry(left);
    left_->setFont(font_);
    left_->setStyleSheet(label_focused_);
    set_fitted(left_, "<");
}

void zevcontrol::set_box_default()
{
    combo_->setStyleSheet(combo_focused_);
    left_->setStyleSheet(label_focused_);
    right_->setStyleSheet(label_focused_);
}

void zevcontrol::set_box_modify()
{
    combo_->setStyleSheet(combo_modify_);
    left_->setStyleSheet(label_modify_);
    right_->setStyleSheet(label_modify_);
}

void zevcontrol::set_boxindexsel(char index)
{
    combo_->setCurrentIndex(index);
}
