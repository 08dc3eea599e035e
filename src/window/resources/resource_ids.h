/* Identifiers of the resources in clickburst.rc, shared with the Win32 window that loads
 * them. Plain C preprocessor definitions: the resource compilers (windres, rc.exe) read this
 * file too.
 *
 * Usage: LoadImageW(instance, MAKEINTRESOURCEW(IDI_CLICKBURST), IMAGE_ICON, 32, 32, 0);
 */
#ifndef CLICKBURST_WINDOW_RESOURCES_RESOURCE_IDS_H_
#define CLICKBURST_WINDOW_RESOURCES_RESOURCE_IDS_H_

/* The lowest-numbered icon group: Explorer shows it for the executable as well. A macro, as
 * the resource compilers read no enum. NOLINTNEXTLINE(modernize-macro-to-enum) */
#define IDI_CLICKBURST 1

#endif /* CLICKBURST_WINDOW_RESOURCES_RESOURCE_IDS_H_ */
