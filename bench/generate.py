#!/usr/bin/env python3
"""A large synthetic machine for the benchmark, always the same for one scale.

  generate.py OUT SCALE           writes into OUT:
      machine64.reg   HKEY_USERS and the 64-bit view of HKEY_LOCAL_MACHINE (one import)
      machine32.reg   the 32-bit view of HKEY_LOCAL_MACHINE (one import)
      objects.txt     what the floor program enumerates and deletes, and what must stay
      reset.txt       the key trees each seed deletes first (a list for the floor program)
      targets.txt     every key, file and folder of the product, in deletion order: what
                      the known-targets program deletes, one call each
      batch.bat       the batch script an administrator would write instead
      summary.txt     the sizes, for the report
  generate.py files DRIVE_C SCALE  (re)creates the machine's files below DRIVE_C
  ... SCALE OWN_SID OWN_FOLDER     either, with one more benchmark user's data seeded into the
                                   running user's own hive (OWN_SID) and profile
                                   (users/OWN_FOLDER below drive_c), for a run of that user alone;
                                   OUT then also gets own.txt (that user's objects) and rest.txt
                                   (every other object), and objects.txt holds both

The random generator is seeded with a constant, so every call builds the same machine.
Matching uninstall entries are never named like product codes ("{...}"), so no
uninstaller child process runs, and no product process is started: the cleaner's wall
time is then its own time.
"""
import os
import random
import shutil
import sys

DISPLAY_NAMES = [
    "Zamo (per-user)", "Zamo (per-machine)", "Zamo Outlook Add-In", "Zamo Deployment",
    "Zamo Outlook Add-In (per-user)", "Zamo Outlook Add-In (per-machine)", "Zamo Web Installer",
    "Zamo Web Installer (per-user)", "Zamo Web Installer (per-machine)",
]
# Names that look like the product's but are not in its catalogue: they must stay.
NEAR_MISSES = ["Zamo Viewer Classic", "Zamo (per-user) 2.1", "Zamo Outlook", "Quorvex Notes"]
MARKERS = ["ZamoInstallerPerUser.exe", "ZamoSetupPerUserX64.msi", "ZamoOutlookSetupX64.msi"]
VENDORS = ["Fenwick", "Halden Software", "Ostrava Labs", "Brightwell", "Kestrel Systems", "Norrin"]
WORDS = ["Notes", "Viewer", "Runtime", "Driver", "Toolkit", "Studio", "Sync", "Backup", "Reader",
         "Update Service", "Player", "Scanner", "Redistributable", "Agent", "Connector"]

UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
USER_PRODUCTS = r"Software\Microsoft\Installer\Products"
CLASS_PRODUCTS = r"Software\Classes\Installer\Products"
DEPENDENCIES = r"Software\Classes\Installer\Dependencies"
USERDATA = r"Software\Microsoft\Windows\CurrentVersion\Installer\UserData"
PROFILE_LIST = r"Software\Microsoft\Windows NT\CurrentVersion\ProfileList"
SHELL_FOLDERS = r"Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders"
ADDIN_KEYS = [r"Software\Microsoft\Office\Outlook\Addins\Zamo.Outlook.AddIn",
              r"Software\Quorvex\Outlook Add-In"]
STARTUP = r"AppData\Roaming\Microsoft\Windows\Start Menu\Programs\StartUp"
PROCESS_NAMES = ["Zamo.exe", "ZamoChromiumHelper.exe", "ZamoCrashHandler.exe", "ZamoCptr.exe"]


def sizes(scale):
    def n(x, least=1):
        return max(least, int(round(x * scale)))
    return {
        "users": n(16, 2),
        "user_uninstall": n(240, 10), "user_uninstall_match": n(8),
        "user_products": n(20, 2), "user_products_match": 1,
        "app_files": n(300, 4),
        "cache_entries": 6, "cache_marked": 2,
        "machine_uninstall": n(600, 10), "machine_uninstall_match": n(4),
        "class_products": n(150, 4), "class_products_match": n(3),
        "dependencies": n(60, 3), "dependencies_match": n(2),
        "components": n(2400, 20), "components_match": n(60),
        "products": n(300, 5), "products_match": n(10),
        "program_files": n(1500, 10),
    }


def guid(rng):
    h = "%032X" % rng.getrandbits(128)
    return "{%s-%s-%s-%s-%s}" % (h[:8], h[8:12], h[12:16], h[16:20], h[20:])


def packed(rng):
    return "%032X" % rng.getrandbits(128)


def reg_string(text):
    return '"%s"' % text.replace("\\", "\\\\").replace('"', '\\"')


def reg_expand(text):
    data = (text + "\0").encode("utf-16-le")
    return "hex(2):" + ",".join("%02x" % b for b in data)


class Machine:
    """Everything of the synthetic machine, built once from the seeded generator."""

    def __init__(self, scale, own=None):
        self.s = sizes(scale)
        rng = random.Random(20261208)
        self.rng = rng
        self.reg = {64: [], 32: []}      # (key path with root, [value lines])
        self.objects = []                # lines of objects.txt
        self.batch = []                  # lines of batch.bat
        self.files = []                  # (path below drive_c, content)
        self.product_trees = []          # (view, key path with root) of every product key tree
        self.product_folders = []        # folders of the product, paths below drive_c
        self.shortcuts = []              # the product's single files, paths below drive_c
        self.counts = {"product_keys": 0, "product_files": 0, "other_keys": 0}
        self.sids = ["S-1-5-21-3041-2175-1296-%d" % (1101 + i) for i in range(self.s["users"])]
        self.own = own
        self.own_objects = []
        self.build_users()
        self.build_machine()
        # Last, so that everything else is the machine the generator always builds.
        if own:
            self.rest_objects, self.objects = self.objects, self.own_objects
            self.build_user(own[0], own[1], own=True)
            self.objects = self.rest_objects + self.own_objects

    # -- helpers ---------------------------------------------------------------------
    def key(self, view, path, values=()):
        self.reg[view].append((path, list(values)))

    def uninstall_entries(self, count, matches, view, root_path, batch_root):
        """An uninstall list: count entries, of which matches carry a catalogue name.

        Entry names are spread over the list as a real one is: product codes and named
        entries mixed, the matching ones named like the other named entries."""
        rng = self.rng
        match_at = set(rng.sample(range(count), matches))
        for i in range(count):
            if i in match_at:
                name = "%08x.ZamoSetup" % rng.getrandbits(32)
                display = DISPLAY_NAMES[rng.randrange(len(DISPLAY_NAMES))]
            elif i % 3 == 0:
                name = guid(rng)
                display = "%s %s %d" % (rng.choice(VENDORS), rng.choice(WORDS), rng.randrange(1, 20))
            else:
                name = "%08x.%s" % (rng.getrandbits(32), rng.choice(VENDORS).replace(" ", ""))
                display = (rng.choice(NEAR_MISSES) if i % 37 == 1 else
                           "%s %s" % (rng.choice(VENDORS), rng.choice(WORDS)))
            values = ['"DisplayName"=%s' % reg_string(display),
                      '"DisplayVersion"="%d.%d.%d"' % (rng.randrange(1, 9), rng.randrange(10), rng.randrange(999)),
                      '"Publisher"=%s' % reg_string("Quorvex" if i in match_at else rng.choice(VENDORS)),
                      '"UninstallString"=%s' % reg_string(r"C:\Program Files\%s\uninstall.exe" % name),
                      '"EstimatedSize"=dword:%08x' % rng.randrange(1 << 20)]
            self.key(view, "%s\\%s" % (root_path, name), values)
            if i in match_at:
                self.product_trees.append((view, "%s\\%s" % (root_path, name)))
                self.batch.append('reg delete "%s\\%s" /f /reg:%d' % (batch_root, name, view))
                self.counts["product_keys"] += 1
            else:
                self.counts["other_keys"] += 1

    def product_list(self, count, matches, view, root_path, batch_root, value_name):
        rng = self.rng
        match_at = set(rng.sample(range(count), matches))
        for i in range(count):
            name = packed(rng)
            text = (DISPLAY_NAMES[rng.randrange(len(DISPLAY_NAMES))] if i in match_at else
                    "%s %s" % (rng.choice(VENDORS), rng.choice(WORDS)))
            self.key(view, "%s\\%s" % (root_path, name),
                     ['"%s"=%s' % (value_name, reg_string(text)), '"Language"=dword:00000409',
                      '"PackageCode"="%s"' % packed(rng)])
            if i in match_at:
                self.product_trees.append((view, "%s\\%s" % (root_path, name)))
                self.batch.append('reg delete "%s\\%s" /f /reg:%d' % (batch_root, name, view))
                self.counts["product_keys"] += 1
            else:
                self.counts["other_keys"] += 1

    def settings(self, view, reg_root, batch_root):
        for name, subkeys in (("Quorvex", ["Zamo", "Zamo\\Profiles", "Updates", "Outlook Add-In"]),
                              ("Zamo", ["Settings", "History", "Accounts"])):
            self.key(view, "%s\\Software\\%s" % (reg_root, name), ['"Installed"=dword:00000001'])
            for sub in subkeys:
                self.key(view, "%s\\Software\\%s\\%s" % (reg_root, name, sub),
                         ['"Value%d"="%s"' % (j, "x" * 20) for j in range(4)])
            self.product_trees.append((view, "%s\\Software\\%s" % (reg_root, name)))
            self.batch.append('reg delete "%s\\Software\\%s" /f /reg:%d' % (batch_root, name, view))
            self.counts["product_keys"] += 1
        self.key(view, "%s\\%s" % (reg_root, ADDIN_KEYS[0]),
                 ['"FriendlyName"="Zamo for Outlook"', '"LoadBehavior"=dword:00000003'])
        self.product_trees.append((view, "%s\\%s" % (reg_root, ADDIN_KEYS[0])))
        self.batch.append('reg delete "%s\\%s" /f /reg:%d' % (batch_root, ADDIN_KEYS[0], view))
        self.counts["product_keys"] += 1
        self.key(view, "%s\\Software\\Fenwick\\Notes" % reg_root, ['"Kept"="yes"'])
        self.counts["other_keys"] += 1

    # -- the user scopes ---------------------------------------------------------------
    def build_users(self):
        for number, sid in enumerate(self.sids, 1):
            self.build_user(sid, "bench%02d" % number)

    def build_user(self, sid, user, own=False):
        """One user scope; the running user's own (own) has its profile list entry and
        shell folders already."""
        s = self.s
        profile = "C:\\users\\" + user
        hku = "HKEY_USERS\\" + sid
        if not own:
            self.key(64, "HKEY_LOCAL_MACHINE\\%s\\%s" % (PROFILE_LIST, sid),
                     ['"ProfileImagePath"=' + reg_expand(profile)])
            self.key(64, "%s\\%s" % (hku, SHELL_FOLDERS),
                     ['"Local AppData"=' + reg_expand(r"%USERPROFILE%\AppData\Local"),
                      '"Startup"=' + reg_expand("%USERPROFILE%\\" + STARTUP)])
        self.uninstall_entries(s["user_uninstall"], s["user_uninstall_match"], 64,
                               "%s\\%s" % (hku, UNINSTALL), "HKU\\%s\\%s" % (sid, UNINSTALL))
        self.objects.append("keys\tHKU\t64\t%s\\%s" % (sid, UNINSTALL))
        self.product_list(s["user_products"], s["user_products_match"], 64,
                          "%s\\%s" % (hku, USER_PRODUCTS), "HKU\\%s\\%s" % (sid, USER_PRODUCTS),
                          "ProductName")
        self.objects.append("keys\tHKU\t64\t%s\\%s" % (sid, USER_PRODUCTS))
        self.settings(64, hku, "HKU\\" + sid)
        for name in ("Quorvex", "Zamo"):
            self.objects.append("tree\tHKU\t64\t%s\\Software\\%s" % (sid, name))
        self.objects.append("tree\tHKU\t64\t%s\\%s" % (sid, ADDIN_KEYS[0]))
        self.objects.append("keep\tHKU\t64\t%s\\Software\\Fenwick\\Notes" % sid)
        self.user_files(user, profile)

    def user_files(self, user, profile):
        s, rng = self.s, self.rng
        base = "users/%s/AppData/Local" % user
        app = base + "/Quorvex"
        for i in range(s["app_files"]):
            sub = ("Zamo", "Zamo/logs", "Zamo/cache", "Zamo/profiles/default")[i % 4]
            self.files.append(("%s/%s/file%04d.dat" % (app, sub, i), "zamo user data %d\n" % i))
        self.counts["product_files"] += s["app_files"]
        self.objects.append("folder\t%s\\AppData\\Local\\Quorvex" % profile)
        self.product_folders.append(app)
        self.batch.append('rd /s /q "%s\\AppData\\Local\\Quorvex"' % profile)
        marked = set(rng.sample(range(s["cache_entries"]), s["cache_marked"]))
        for i in range(s["cache_entries"]):
            entry = guid(rng)
            folder = "%s/Package Cache/%s" % (base, entry)
            win = "%s\\AppData\\Local\\Package Cache\\%s" % (profile, entry)
            if i in marked:
                self.files.append(("%s/%s" % (folder, MARKERS[i % 3]), "installer\n"))
                self.files.append(("%s/%s.cab" % (folder, entry[1:9]), "cab\n"))
                self.counts["product_files"] += 2
                self.objects.append("folder\t" + win)
                self.product_folders.append(folder)
                self.batch.append('rd /s /q "%s"' % win)
            else:
                self.files.append(("%s/FenwickNotes.msi" % folder, "other\n"))
                self.objects.append("keep\tpath\t\t" + win)
        startup = "users/%s/%s" % (user, STARTUP.replace("\\", "/"))
        self.files.append((startup + "/Zamo.lnk", "link\n"))
        self.shortcuts.append(startup + "/Zamo.lnk")
        self.files.append((startup + "/Fenwick.lnk", "link\n"))
        self.counts["product_files"] += 1
        self.objects.append("file\t%s\\%s\\Zamo.lnk" % (profile, STARTUP))
        self.objects.append("keep\tpath\t\t%s\\%s\\Fenwick.lnk" % (profile, STARTUP))
        self.batch.append('del /f /q "%s\\%s\\Zamo.lnk"' % (profile, STARTUP))
        self.files.append(("%s/Fenwick/notes.txt" % base, "kept\n"))
        self.objects.append("keep\tpath\t\t%s\\AppData\\Local\\Fenwick\\notes.txt" % profile)

    # -- the machine scope -------------------------------------------------------------
    def build_machine(self):
        s, rng = self.s, self.rng
        hklm = "HKEY_LOCAL_MACHINE"
        for view in (64, 32):
            self.uninstall_entries(s["machine_uninstall"], s["machine_uninstall_match"], view,
                                   "%s\\%s" % (hklm, UNINSTALL), "HKLM\\" + UNINSTALL)
            self.objects.append("keys\tHKLM\t%d\t%s" % (view, UNINSTALL))
            self.settings(view, hklm, "HKLM")
            for name in ("Quorvex", "Zamo"):
                self.objects.append("tree\tHKLM\t%d\tSoftware\\%s" % (view, name))
            self.objects.append("tree\tHKLM\t%d\t%s" % (view, ADDIN_KEYS[0]))
            self.objects.append("keep\tHKLM\t%d\tSoftware\\Fenwick\\Notes" % view)
        # The Installer's class registrations are one list for both views.
        self.product_list(s["class_products"], s["class_products_match"], 64,
                          "%s\\%s" % (hklm, CLASS_PRODUCTS), "HKLM\\" + CLASS_PRODUCTS, "ProductName")
        self.objects.append("keys\tHKLM\t64\t" + CLASS_PRODUCTS)
        self.product_list(s["dependencies"], s["dependencies_match"], 64,
                          "%s\\%s" % (hklm, DEPENDENCIES), "HKLM\\" + DEPENDENCIES, "DisplayName")
        self.objects.append("keys\tHKLM\t64\t" + DEPENDENCIES)
        self.installer_records()
        for root in ("Program Files", "Program Files (x86)"):
            for i in range(s["program_files"]):
                sub = "Zamo/%s" % ("bin", "lib", "res", "res/locales", "plugins", "Outlook Add-In")[i % 6]
                self.files.append(("%s/Quorvex/%s/part%05d.bin" % (root, sub, i), "program file %d\n" % i))
            self.counts["product_files"] += s["program_files"]
            self.objects.append("folder\tC:\\%s\\Quorvex" % root)
            self.product_folders.append("%s/Quorvex" % root)
            self.batch.append('rd /s /q "C:\\%s\\Quorvex"' % root)
            self.files.append(("%s/Fenwick/Notes/notes.exe" % root, "kept\n"))
            self.objects.append("keep\tpath\t\tC:\\%s\\Fenwick\\Notes\\notes.exe" % root)

    def installer_records(self):
        s, rng = self.s, self.rng
        base = "HKEY_LOCAL_MACHINE\\%s\\S-1-5-18" % USERDATA
        batch_base = "HKLM\\%s\\S-1-5-18" % USERDATA
        match_at = set(rng.sample(range(s["components"]), s["components_match"]))
        for i in range(s["components"]):
            name = packed(rng)
            values = []
            for _ in range(1 + i % 3):
                if i in match_at and not values:
                    path = r"C:\Program Files\Quorvex\Zamo\bin\part%05d.bin" % i
                else:
                    path = r"C:\Program Files\%s\%s\file%05d.dll" % (rng.choice(VENDORS), rng.choice(WORDS), i)
                values.append('"%s"=%s' % (packed(rng), reg_string(path)))
            # The product's reference is not always the first value.
            if i in match_at:
                values.reverse()
            self.key(64, "%s\\Components\\%s" % (base, name), values)
            if i in match_at:
                self.product_trees.append((64, "%s\\Components\\%s" % (base, name)))
                self.batch.append('reg delete "%s\\Components\\%s" /f /reg:64' % (batch_base, name))
                self.counts["product_keys"] += 1
            else:
                self.counts["other_keys"] += 1
        self.objects.append("components\tS-1-5-18")
        match_at = set(rng.sample(range(s["products"]), s["products_match"]))
        for i in range(s["products"]):
            name = packed(rng)
            text = (DISPLAY_NAMES[rng.randrange(len(DISPLAY_NAMES))] if i in match_at else
                    "%s %s" % (rng.choice(VENDORS), rng.choice(WORDS)))
            self.key(64, "%s\\Products\\%s\\InstallProperties" % (base, name),
                     ['"DisplayName"=%s' % reg_string(text), '"Publisher"="x"', '"VersionMajor"=dword:00000002',
                      '"LocalPackage"=%s' % reg_string(r"C:\windows\Installer\%x.msi" % i)])
            self.key(64, "%s\\Products\\%s\\Features" % (base, name), ['"Main"="y"'])
            if i in match_at:
                self.product_trees.append((64, "%s\\Products\\%s" % (base, name)))
                self.batch.append('reg delete "%s\\Products\\%s" /f /reg:64' % (batch_base, name))
                self.counts["product_keys"] += 1
            else:
                self.counts["other_keys"] += 1
        self.objects.append("products\tS-1-5-18")

    # -- output ------------------------------------------------------------------------
    def write(self, out):
        os.makedirs(out, exist_ok=True)
        for view in (64, 32):
            with open(os.path.join(out, "machine%d.reg" % view), "w", encoding="utf-16") as f:
                f.write("Windows Registry Editor Version 5.00\r\n")
                for path, values in self.reg[view]:
                    f.write("\r\n[%s]\r\n" % path)
                    for line in values:
                        f.write(line + "\r\n")
        with open(os.path.join(out, "objects.txt"), "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(self.objects) + "\n")
        if self.own:
            for name, objects in (("own.txt", self.own_objects), ("rest.txt", self.rest_objects)):
                with open(os.path.join(out, name), "w", encoding="utf-8", newline="\n") as f:
                    f.write("\n".join(objects) + "\n")
        with open(os.path.join(out, "targets.txt"), "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(self.targets()) + "\n")
        with open(os.path.join(out, "reset.txt"), "w", encoding="utf-8", newline="\n") as f:
            f.write("\n".join(self.reset_keys()) + "\n")
        with open(os.path.join(out, "batch.bat"), "w", encoding="ascii", newline="\r\n") as f:
            f.write("@echo off\n")
            for name in PROCESS_NAMES:
                f.write("taskkill /f /im %s >nul 2>&1\n" % name)
            for line in self.batch:
                f.write(line + " >nul 2>&1\n")
        total_keys = sum(len(k) for k in self.reg.values())
        with open(os.path.join(out, "summary.txt"), "w") as f:
            f.write("user scopes %d, uninstall entries %d per user (%d matching), %d machine entries per view "
                    "(%d matching), %d Installer component records (%d matching), %d product records (%d matching), "
                    "%d files (%d of the product), %d registry keys written\n"
                    % (self.s["users"], self.s["user_uninstall"], self.s["user_uninstall_match"],
                       self.s["machine_uninstall"], self.s["machine_uninstall_match"], self.s["components"],
                       self.s["components_match"], self.s["products"], self.s["products_match"],
                       len(self.files), self.counts["product_files"], total_keys))
            f.write("batch commands %d\n" % (len(self.batch) + len(PROCESS_NAMES)))

    def targets(self):
        """Every key, file and folder the product leaves, each one line, in an order in
        which each can be deleted by itself: a key after its subkeys, a folder after
        what it holds."""
        lines = []
        trees = {}
        for view, root in self.product_trees:
            trees.setdefault(view, {})[root] = []
        for view, roots in trees.items():
            for path, _ in self.reg[view]:
                # The key and every key between it and the root the import made for it.
                ancestor = path
                while ancestor:
                    if ancestor in roots:
                        for below in range(path.count("\\") - ancestor.count("\\") + 1):
                            key = path.rsplit("\\", below)[0] if below else path
                            if key not in roots[ancestor]:
                                roots[ancestor].append(key)
                        break
                    ancestor = ancestor.rpartition("\\")[0]
        for view, root in self.product_trees:
            for key in sorted(trees[view][root], key=lambda k: -k.count("\\")):
                hive, _, rest = key.partition("\\")
                lines.append("key\t%s\t%d\t%s" % ("HKU" if hive == "HKEY_USERS" else "HKLM", view, rest))
        windows = lambda path: "C:\\" + path.replace("/", "\\")
        for folder in self.product_folders:
            inside = [p for p, _ in self.files if p.startswith(folder + "/")]
            lines += ["file\t" + windows(p) for p in inside]
            folders = set()
            for p in inside:
                parent = os.path.dirname(p)
                while parent != folder:
                    folders.add(parent)
                    parent = os.path.dirname(parent)
            lines += ["folder\t" + windows(p) for p in sorted(folders, key=lambda p: -p.count("/"))]
            lines.append("folder\t" + windows(folder))
        lines += ["file\t" + windows(p) for p in self.shortcuts]
        return lines

    def reset_keys(self):
        """The key trees that each seed deletes before its import, as lines of the floor
        program's list ("tree ROOT VIEW PATH"), so every seed builds the same lists
        whatever an earlier run or seed of another scale left. (Wine's reg import does
        not delete a tree named "[-...]": the floor program does it.)"""
        keys = []
        for view in (64, 32):
            for path in (UNINSTALL, r"Software\Quorvex", r"Software\Zamo", r"Software\Fenwick", ADDIN_KEYS[0]):
                keys.append("tree\tHKLM\t%d\t%s" % (view, path))
        keys += ["tree\tHKLM\t64\t" + path for path in (CLASS_PRODUCTS, DEPENDENCIES, USERDATA + r"\S-1-5-18")]
        keys += ["tree\tHKU\t64\t" + sid for sid in self.sids]
        # The running user's hive is the prefix's own: only what the seed writes there goes.
        if self.own:
            keys += ["tree\tHKU\t64\t%s\\%s" % (self.own[0], path)
                     for path in (UNINSTALL, USER_PRODUCTS, r"Software\Quorvex", r"Software\Zamo", r"Software\Fenwick",
                                  ADDIN_KEYS[0])]
        return keys

    def write_files(self, drive_c):
        # Start from nothing, so every timing sees the same folders.
        for user_dir in set(p.split("/")[1] for p, _ in self.files if p.startswith("users/")):
            if self.own and user_dir == self.own[1]:
                # The running user's profile is the prefix's own: only what the seed writes there goes.
                for path in ("AppData/Local/Quorvex", "AppData/Local/Package Cache", "AppData/Local/Fenwick",
                             STARTUP.replace("\\", "/") + "/Zamo.lnk", STARTUP.replace("\\", "/") + "/Fenwick.lnk"):
                    full = os.path.join(drive_c, "users", user_dir, path)
                    shutil.rmtree(full, ignore_errors=True) if os.path.isdir(full) else (
                        os.path.exists(full) and os.remove(full))
                continue
            shutil.rmtree(os.path.join(drive_c, "users", user_dir), ignore_errors=True)
        for root in ("Program Files", "Program Files (x86)"):
            for name in ("Quorvex", "Fenwick"):
                shutil.rmtree(os.path.join(drive_c, root, name), ignore_errors=True)
        made = set()
        for path, content in self.files:
            full = os.path.join(drive_c, path)
            folder = os.path.dirname(full)
            if folder not in made:
                os.makedirs(folder, exist_ok=True)
                made.add(folder)
            with open(full, "w") as f:
                f.write(content)


def main():
    args = sys.argv[1:]
    own = None
    if len(args) in (5, 4) and len(args) - (args[0] == "files") == 4:
        own, args = tuple(args[-2:]), args[:-2]
    if len(args) == 3 and args[0] == "files":
        Machine(float(args[2]), own).write_files(args[1])
    elif len(args) == 2:
        Machine(float(args[1]), own).write(args[0])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
