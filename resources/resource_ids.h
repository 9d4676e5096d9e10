/* Ids shared by the resource scripts and the code that reads them. */
#ifndef ORVIA_RESOURCES_RESOURCE_IDS_H_
#define ORVIA_RESOURCES_RESOURCE_IDS_H_

#define IDS_COMPANY_NAME 21128
#define IDS_INSTALLER_CAPTION 21129
#define IDS_UNKNOWN_ERROR 21130
#define IDS_UNSUPPORTED_OS 21131

#define IDI_ORVIA 101

#endif
