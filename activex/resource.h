#pragma once
// Resource identifiers of kelvora_ax.dll (shared by kelvora_ax.rc and the code).
#define IDS_PROJNAME 100
#define IDR_APPID 101
#define IDR_PLUGIN 106
