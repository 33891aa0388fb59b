#include "host/text/Messages.h"

#include <utility>

namespace host {

namespace {

std::string FoldKey(std::string_view key) {
  std::string out(key);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

}  // namespace

TMessages::TMessages(std::string name, TComponent* owner) : TComponent(std::move(name), owner) {}

void TMessages::SetLines(std::vector<std::string> lines) {
  const std::string table = Name().empty() ? std::string("(sem nome)") : Name();
  std::unordered_map<std::string, Entry> entries;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::string_view line = lines[n];
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (TrimBlanks(line).empty()) continue;
    const auto where = " (tabela de mensagens \"" + table + "\", linha " + std::to_string(n + 1) +
                       ": \"" + std::string(line) + "\")";
    const std::size_t bar = line.find('|');
    if (bar == std::string_view::npos) {
      throw EMessageError("Linha de mensagem sem '|'" + where);
    }
    const std::string_view key = TrimBlanks(line.substr(0, bar));
    if (key.empty()) throw EMessageError("Linha de mensagem sem chave" + where);
    Entry entry;
    const std::string_view rest = line.substr(bar + 1);
    const std::size_t bar2 = rest.find('|');
    if (bar2 == std::string_view::npos) {
      entry.text = std::string(rest);
    } else {
      entry.title = std::string(rest.substr(0, bar2));
      entry.text = std::string(rest.substr(bar2 + 1));
    }
    if (!entries.emplace(FoldKey(key), std::move(entry)).second) {
      throw EMessageError("Chave de mensagem repetida \"" + std::string(key) + "\"" + where);
    }
  }
  entries_ = std::move(entries);
  lines_ = std::move(lines);
}

const TMessages::Entry* TMessages::Find(std::string_view key) const {
  auto it = entries_.find(FoldKey(TrimBlanks(key)));
  return it == entries_.end() ? nullptr : &it->second;
}

const TMessages::Entry& TMessages::Lookup(std::string_view key) const {
  if (const Entry* e = Find(key)) return *e;
  if (this != &Common()) {
    if (const Entry* e = Common().Find(key)) return *e;
  }
  throw EMessageError("Mensagem \"" + std::string(key) + "\" não encontrada na tabela \"" +
                      Name() + "\" nem nas mensagens comuns");
}

std::string TMessages::Msg(std::string_view key) const { return Lookup(key).text; }

std::string TMessages::Title(std::string_view key) const { return Lookup(key).title; }

bool TMessages::Contains(std::string_view key) const {
  return Find(key) != nullptr || Common().Find(key) != nullptr;
}

int TMessages::ShowMsg(std::string_view key, TMsgDlgType type, TMsgDlgButtons buttons,
                       int helpContext) const {
  return ShowMessageDialog(Msg(key), type, buttons, helpContext);
}

TMessages& TMessages::Common() {
  // Never destroyed: screens may look messages up while the process shuts down.
  static TMessages* common = [] {
    auto* m = new TMessages("msgComum");
    m->SetLines({
        "Canc|Deseja cancelar a operação?",
        "Valida_dados|Validando dados...",
        "Carrega_dados|Carregando dados...",
        "Grava_dados|Gravando dados...",
        "Aguarde|Aguarde...",
        "Excl|Confirma exclusão?",
        "Sair|Deseja sair?",
        "Reg_n_enc|Registro não encontrado.",
        "Erro|Erro|Ocorreu um erro na operação.",
    });
    return m;
  }();
  return *common;
}

}  // namespace host
