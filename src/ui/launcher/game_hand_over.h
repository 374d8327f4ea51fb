// Where the chosen game goes: the launcher and its browser events tell the
// application object (which owns both windows) that the game window comes
// next, and with which address. ui/ knows only this interface.
#pragma once

class IGameHandOver {
public:
    // Stores the game address that the game window will open.
    virtual void SetGameUrl(const wchar_t* url) = 0;
    // The run goes on with the game window once the launcher has ended.
    virtual void ChooseGameWindow() = 0;

protected:
    ~IGameHandOver() = default;
};
