// Outlook's own records of the add-in.
#pragma once

// In a user scope, both views: its values in the resiliency lists and load times of every
// Office version, and the disabled items that name it.
void PurgeOutlookRecords(const wchar_t* sid);
