// The platform seam: every operating-system service the logic uses, as one
// aggregate of small interfaces. Tests replace single entries with fakes.
// May contain: the aggregate of interface pointers only; no definitions.
#pragma once

class FileSystem;
class Registry;
class ProfileFiles;
class Paths;
class Clock;
class Host;
class Processes;
class Desktop;
class Md5Library;
class WebpostLibrary;
class XmlLibrary;
class Locks;

struct Platform {
    FileSystem* fs = nullptr;
    Registry* registry = nullptr;
    ProfileFiles* profile = nullptr;
    Paths* paths = nullptr;
    Clock* clock = nullptr;
    Host* host = nullptr;
    Processes* processes = nullptr;
    Desktop* desktop = nullptr;
    Md5Library* md5 = nullptr;
    WebpostLibrary* webpost = nullptr;
    XmlLibrary* xml = nullptr;
    Locks* locks = nullptr;
};
