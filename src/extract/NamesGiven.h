#pragma once
// The local names a restore run has given in each destination folder, so that two stored
// names that come out as one local name never land on one entry: a substitute and a real name
// alike, two code-page readings of different bytes, or names a file system that folds case
// takes as one. The later one gets a numbered name; what the destination held before the run
// is left to the overwrite question.

#include <map>
#include <memory>
#include <set>
#include <string>

#include "platform/FileLayer.h"

namespace corvane {

class NamesGiven {
  public:
    // The run has made or entered folder. Where the file system finds there a folder the run
    // reached under another spelling (it folds case: "DOCS" finds "Docs"), the names given in
    // either are one set from here on.
    void FolderReached(FileSystem& files, const std::string& folder);
    // Where the folders of relative below top go in this run: where relative puts them, but a
    // folder whose name a file of this run has takes a numbered name beside it, for the rest
    // of the run ("Docs (2)/2008").
    std::string PlaceFolders(FileSystem& files, const std::string& top, const std::string& relative);
    // The run has made or entered the folder name in parent.
    void FolderWritten(const std::string& parent, const std::string& name);
    // name, or when this run gave it in folder already, the first numbered one it has not
    // ("a (2).txt"); given from here on.
    std::string Give(const std::string& folder, const std::string& name);
    // The first of name and its numbered forms that this run has not given in folder and that
    // nothing in folder answers to; given from here on.
    std::string GiveUnused(FileSystem& files, const std::string& folder, const std::string& name);
    // A name given in folder now has its entry there, written or made by this run.
    void Written(const std::string& folder, const std::string& name);
    // Whether what the file system finds at name in folder is an entry this run wrote: under
    // that name, or under one that differs only in case on a file system that folds case.
    bool FindsWritten(FileSystem& files, const std::string& folder, const std::string& name) const;

  private:
    struct IgnoringCase {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    struct Folder {
        std::set<std::string> given;
        std::multiset<std::string, IgnoringCase> written;
        std::set<std::string> folders;  // of the written names, those of folders
    };
    using Folders = std::multimap<std::string, std::shared_ptr<Folder>, IgnoringCase>;

    // The folder spelled exactly so, or end.
    Folders::const_iterator Find(const std::string& folder) const;
    // The folder spelled exactly so, known from here on.
    Folder& At(const std::string& folder);

    Folders folders_;  // by path as the run spelled it; spellings of one folder share one
    // Folder paths moved off a file's name by PlaceFolders, to where they went.
    std::map<std::string, std::string> placed_;
    // The folder At found last: a folder's files come one after another.
    std::string lastPath_;
    std::shared_ptr<Folder> last_;
};

}  // namespace corvane
