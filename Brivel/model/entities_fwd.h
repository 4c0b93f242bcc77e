// Forward declarations of the stored entities and the list types their relationships use.
#pragma once

#include <memory>
#include <optional>
#include <vector>

namespace brivel {

class ProfileEntity;
class BillEntity;
class CategoryEntity;
class BankAccountEntity;
class NoteEntity;

using BillList = std::vector<std::shared_ptr<BillEntity>>;
using CategoryList = std::vector<std::shared_ptr<CategoryEntity>>;
using BankAccountList = std::vector<std::shared_ptr<BankAccountEntity>>;
using NoteList = std::vector<std::shared_ptr<NoteEntity>>;

}  // namespace brivel
