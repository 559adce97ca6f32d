#pragma once

// Status texts of a run.
inline constexpr const char* kCopiando = "Copiando...";
inline constexpr const char* kFinalizado = "Finalizado.";
inline constexpr const char* kDetenido = "Detenido.";
inline constexpr const char* kDeteniendo =
    "Deteniendo... por favor espere a que se copie este archivo.";
inline constexpr const char* kActualizadoPrefix = "ACTUALIZADO - ";

// The folders the mail task writes under the destination.
inline constexpr const char* kMailFolder = "mensajes";
inline constexpr const char* kAttachmentFolder = "adjuntos";

// The start of the status of a run that found another run going on to its destination.
inline constexpr const char* kCopiaEnCurso = "Ya hay una copia en curso hacia ";
