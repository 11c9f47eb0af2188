#pragma once
// The one error type of the program: conversion and file errors carry the text that the
// window's top-level handler shows in its message box.
#include <QString>
#include <exception>

class AppError : public std::exception {
public:
    explicit AppError(QString message) : text(std::move(message)), utf8(text.toUtf8()) {}
    const QString& message() const { return text; }
    const char* what() const noexcept override { return utf8.constData(); }

private:
    QString text;
    QByteArray utf8;
};

// The message as the error box shows it: a "." is appended when the last character sorts
// after ".".
QString BoxText(const QString& message);
