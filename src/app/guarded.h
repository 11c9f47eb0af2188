#pragma once
// Every event entry point of a window runs its action through RunGuarded: an error ends the
// action and its message is shown, and no exception reaches the event loop.
#include "regmap/error.h"
#include <QString>
#include <exception>

template <typename F, typename Show> void RunGuarded(F&& action, Show&& show) {
    try {
        action();
    } catch (const AppError& error) {
        show(BoxText(error.message()));
    } catch (const std::exception& error) {
        show(BoxText(QString::fromLocal8Bit(error.what())));
    }
}
