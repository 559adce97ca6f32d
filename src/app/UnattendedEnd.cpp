#include "app/UnattendedEnd.h"

#include "backup/CopyCheck.h"
#include "backup/TEstad.h"

std::string runSummary(const TEstad& estado) {
  return estado.TextoEstado() + " Actualizados: " + std::to_string(estado.Actualizados) +
         " Copiados: " + std::to_string(estado.Copiados) +
         " Revisados: " + std::to_string(estado.Revisados);
}

std::optional<std::string> checkSummary(const TEstad& estado) {
  if (!estado.Comprobando) return std::nullopt;
  return checkSummaryLine(estado.Comprobados, estado.Danados);
}

UnattendedEnd unattendedEnd(const std::optional<RunResult>& lastResult, const TEstad& estado,
                            bool settingsUnwritable, bool signalled) {
  UnattendedEnd end;
  if (!lastResult) {
    end.status = signalled ? 3 : 2;
    return end;
  }
  switch (lastResult->outcome) {
    case RunOutcome::Finished:
      end.status = lastResult->failures > 0 ? 1 : 0;
      break;
    case RunOutcome::Stopped:
      end.status = 3;
      break;
    case RunOutcome::NoDestination:
    case RunOutcome::DestinationNotCreatable:
      // Nothing ran: the one line that says why is all there is to tell.
      end.status = 2;
      return end;
  }
  if (settingsUnwritable && end.status < 2) end.status = 2;
  if (signalled) end.status = 3;
  end.summary = runSummary(estado);
  end.check = checkSummary(estado);
  return end;
}
