#pragma once
#include <limits>
// The transaction state: the single frame and reply area and the fields that a read or a
// write leaves for the next step.
#include "link/modbus.h"
#include "regmap/tree.h"
#include <QString>

struct TxnState {
    RequestFrame frame;
    ReplyBuffer reply;

    TreeNode* CurrentNode = nullptr;
    RegisterNode* CurrentRecord = nullptr;
    TreeNode* HighlightNode = nullptr;
    bool Walking = false;
    bool LastReplyOk = false;

    QString DecodedText;
    // A REAL, PREC or FLOAT read's value in full, before the text rounds it; NaN otherwise.
    float DecodedReal = std::numeric_limits<float>::quiet_NaN();
    QString TxText;
    QString LogAddressText;
    QString LogNameText;
    QString LogValueText;
    QString PendingWriteText;
};
