// The sign-in form: 用户名, 密码, 登录. The password never leaves this form but in the request body.

import { api, type Session } from "./api";
import { h } from "./dom";

export function signInView(onDone: (s: Session) => void, why = ""): HTMLElement {
  const user = h("input", { id: "user", name: "user", autocomplete: "username", required: true });
  const password = h("input", { id: "password", name: "password", type: "password",
                                autocomplete: "current-password", required: true });
  const error = h("p", { class: "error", role: "alert" }, why);
  const button = h("button", { type: "submit" }, "登录");
  const form = h("form", { class: "signin", "aria-label": "登录" },
    h("h1", {}, "会员卡报表"),
    h("div", { class: "field" }, h("label", { for: "user" }, "用户名"), user),
    h("div", { class: "field" }, h("label", { for: "password" }, "密码"), password),
    error, button);
  form.addEventListener("submit", async (e) => {
    e.preventDefault();
    button.disabled = true;
    error.textContent = "";
    try {
      const session = await api.signIn(user.value.trim(), password.value);
      password.value = "";
      onDone(session);
    } catch (err) {
      error.textContent = (err as Error).message;
      password.select();
    } finally {
      button.disabled = false;
    }
  });
  queueMicrotask(() => user.focus());
  return form;
}
