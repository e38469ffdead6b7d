#include "ExeResources.h"
#include "AppletProcess.h"

ExeResources::ExeResources()
{
    module_ = LoadLibraryExW((BinaryFolder() + L"\\VarnelKVM.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

ExeResources::~ExeResources()
{
    if (module_ != nullptr)
        FreeLibrary(module_);
}

IconImage ExeResources::icon(WORD iconId) const
{
    // LoadIconW's choice: the group's image nearest the system's icon size.
    HICON icon = (HICON)LoadImageW(module_, MAKEINTRESOURCEW(iconId), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
    IconImage image = IconImageOf(icon);
    if (icon != nullptr)
        DestroyIcon(icon);
    return image;
}

std::optional<MenuItems> ExeResources::menuItems(WORD menuId, LANGID language) const
{
    HRSRC found = FindResourceExW(module_, RT_MENU, MAKEINTRESOURCEW(menuId), language);
    HGLOBAL loaded = found != nullptr ? LoadResource(module_, found) : nullptr;
    const void *templateData = loaded != nullptr ? LockResource(loaded) : nullptr;
    HMENU menu = templateData != nullptr ? LoadMenuIndirectW(templateData) : nullptr;
    if (menu == nullptr)
        return std::nullopt;
    MenuItems items = ReadMenuItems(GetSubMenu(menu, 0));
    DestroyMenu(menu);
    return items;
}

std::optional<std::wstring> ExeResources::string(WORD stringId, LANGID language) const
{
    return StringResource(module_, stringId, language);
}
