#pragma once

// How a folder is shown. The numbers are the stored form of the user's choice.
enum class BrowserViewMode : int { icon = 0, list = 1, column = 2 };
